#include "record/avi_recorder.h"

#include <new>
#include <system_error>

#include "record/prepare_directories.h"

namespace {

constexpr uint32_t AVI_OPEN_MODE = platform::OF_CREATE | platform::OF_WRITE;  // 0x1001
constexpr uint32_t BITMAP_INFO_HEADER_BYTES = 40;

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Creates the file and its stream at the first key frame. False ends the recording; the
// state stays for the exit to free.
bool OpenAviFile(CAviRecorder* recorder, const FrameItem& frame) {
  recorder->fileState.reset(new (std::nothrow) AviFileState);
  AviFileState* state = recorder->fileState.get();
  if (state == nullptr) return false;
  state->codecKind = recorder->codecKind;
  state->width = frame.width;
  state->height = frame.height;
  PrepareDirectories(recorder->path);
  if (platform::AviFileOpen(&state->file, recorder->path, AVI_OPEN_MODE, recorder->writerOptions) !=
          0 ||
      !state->file) {
    return false;
  }
  if (!CreateAviStream(state)) {
    CloseAviFile(state);
    return false;
  }
  recorder->width = frame.width;
  recorder->height = frame.height;
  return true;
}

// Writes the next sample (an empty one for bytes 0), always flagged as a key frame.
bool WriteSample(AviFileState* state, const uint8_t* data, int32_t bytes) {
  const int32_t n = state->sampleCount++;
  return platform::AviStreamWrite(state->stream.get(), n, 1, data, bytes, platform::AVIIF_KEYFRAME,
                                  nullptr, nullptr) == 0;
}

}  // namespace

std::unique_ptr<CAviRecorder> CreateRecorder() {
  std::unique_ptr<CAviRecorder> recorder(new (std::nothrow) CAviRecorder);
  if (!recorder) return nullptr;
  recorder->frameQueue.reset(new (std::nothrow) CFrameQueue);
  return recorder;
}

int StartRecorderThread(CAviRecorder* recorder, const std::string& path, int32_t codecKind) {
  if (recorder->thread.joinable()) return 0;
  if (codecKind != AVI_CODEC_JPEG && codecKind != AVI_CODEC_H264) return 0;
  recorder->path = path;
  recorder->codecKind = codecKind;
  recorder->running.store(1);
  try {
    recorder->thread = std::thread(RecorderThreadProc, recorder);
  } catch (const std::system_error&) {
    // No thread was made, so the recorder is as it was before the call.
    recorder->running.store(0);
    return 0;
  }
  return 1;
}

void RecorderThreadProc(CAviRecorder* recorder) {
  platform::Clock& clock = *recorder->clock;
  bool waitingForKey = true;
  // A separate flag rather than a zero tick, since a tick of 0 is as valid as any other.
  bool haveTick = false;
  uint32_t lastTick = 0;
  int32_t samples = 0;  // written successfully
  int32_t frames = 0;

  while (recorder->running.load() != 0) {
    FrameItem frame;  // the payload in hand; freed when it goes out of scope
    const bool popped = recorder->frameQueue && recorder->frameQueue->Pop(&frame);
    if (!popped) {
      if (!recorder->fileState) {
        clock.SleepMs(AVI_IDLE_POLL_MS);
        continue;
      }
      if (!WriteSample(recorder->fileState.get(), nullptr, 0)) break;
      ++samples;
    } else {
      if (waitingForKey) {
        if (frame.keyFlag == 0) {
          clock.SleepMs(AVI_IDLE_POLL_MS);
          continue;
        }
        waitingForKey = false;
      }
      if (!recorder->fileState && !OpenAviFile(recorder, frame)) break;
      // A new picture size ends the recording; the file keeps the frames of the first size.
      if (frame.width != recorder->width || frame.height != recorder->height) break;
      if (!haveTick) {
        lastTick = clock.TickMs();
        haveTick = true;
      }
      if (!WriteSample(recorder->fileState.get(), frame.data.get(), frame.length)) break;
      ++samples;
      ++frames;
    }

    const uint32_t elapsed = clock.TickMs() - lastTick;
    clock.SleepMs(elapsed < AVI_SAMPLE_INTERVAL_MS ? AVI_SAMPLE_INTERVAL_MS - elapsed : 1);
    lastTick = clock.TickMs();
  }

  if (recorder->fileState) {
    recorder->samplesWritten = samples;
    recorder->framesWritten = frames;
    FreeAviFileState(std::move(recorder->fileState));
  }
  recorder->ended.store(1, std::memory_order_release);
}

void StopRecorderThread(CAviRecorder* recorder) {
  recorder->running.store(0);
  if (recorder->thread.joinable()) recorder->thread.join();
}

void DestroyRecorder(std::unique_ptr<CAviRecorder> recorder) {
  if (!recorder) return;
  StopRecorderThread(recorder.get());
  recorder->frameQueue.reset();
}

int CreateAviStream(AviFileState* state) {
  const uint32_t handler = state->codecKind == AVI_CODEC_H264 ? platform::MakeFourCc("h264")
                                                              : platform::MakeFourCc("mjpg");
  state->streamInfo = platform::AviStreamInfo{};
  platform::AviStreamInfo& info = state->streamInfo;
  info.fccType = platform::MakeFourCc("vids");
  info.fccHandler = handler;
  info.dwScale = 1;
  info.dwRate = 50;
  info.dwSuggestedBufferSize =
      static_cast<uint32_t>(state->width) * static_cast<uint32_t>(state->height);
  info.rcFrame.right = state->width;
  info.rcFrame.bottom = state->height;
  if (platform::AviFileCreateStream(state->file.get(), &state->stream, info) != 0) return 0;

  uint8_t format[BITMAP_INFO_HEADER_BYTES] = {};
  PutU32(format + 0, BITMAP_INFO_HEADER_BYTES);
  PutU32(format + 4, static_cast<uint32_t>(state->width));
  PutU32(format + 8, static_cast<uint32_t>(state->height));
  PutU16(format + 12, 1);   // planes
  PutU16(format + 14, 24);  // bits per pixel
  PutU32(format + 16, handler);
  if (platform::AviStreamSetFormat(state->stream.get(), 0, format, sizeof format) != 0) return 0;
  return 1;
}

void CloseAviFile(AviFileState* state) {
  state->stream.reset();
  state->file.reset();
  state->sampleCount = 0;
  state->height = 0;
  state->width = 0;
}

void FreeAviFileState(std::unique_ptr<AviFileState> state) {
  if (state) CloseAviFile(state.get());
}
