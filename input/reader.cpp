#include "input/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>

#include "player/messages.h"

namespace {

// Reader waits, in milliseconds.
constexpr uint32_t PAUSE_POLL_MS = 100;
constexpr uint32_t FAST_H264_MS = 50;
constexpr uint32_t JPEG_PICTURE_MS = 200;
constexpr uint32_t FAST_JPEG_PICTURE_MS = 50;
constexpr int32_t JPEG_CLOCK_STEP_MS = 200;

// State of one reader loop, local to the reader thread. Everything starts at 0: no file.
struct ReaderState {
  FILE* file = nullptr;
  int64_t fileLength = 0;
  int64_t offset = 0;  // of the next header to read
  int32_t isH264 = 0;
  uint32_t currentTimestamp = 0;
  int32_t haveBase = 0;
  int32_t prevSeconds = 0;
  int32_t prevMillis = 0;
  int32_t clockMs = 0;
  int32_t keySeen = 0;
};

enum class HeaderRead { Whole, Nothing, Partial };

// Reads 32 bytes at the file's position into a header; a short read leaves it zero-filled.
HeaderRead ReadHeader(FILE* file, FrameHeader* header) {
  uint8_t bytes[FRAME_HEADER_SIZE] = {};
  const size_t got = std::fread(bytes, 1, sizeof bytes, file);
  if (got != sizeof bytes) {
    *header = FrameHeader{};
    return got == 0 ? HeaderRead::Nothing : HeaderRead::Partial;
  }
  *header = ParseFrameHeader(bytes);
  return HeaderRead::Whole;
}

void Post(const PlaybackContext& context, uint32_t message, int64_t value) {
  if (context.notifyWindow != nullptr) {
    context.notifyWindow->PostMessage(message, static_cast<uint64_t>(value), 0);
  }
}

// Payloads up to this size are skipped by reading them through the stream's buffer: a seek
// throws the buffer away, so skipping a small payload that way costs a seek and a read.
constexpr uint32_t SKIP_BY_READING_MAX = 4096;

// Moves the stream past a payload. False when it cannot: a short read at the end of the file
// gives the same result as a seek past it followed by a header read.
bool SkipPayload(FILE* file, uint32_t length) {
  if (length <= SKIP_BY_READING_MAX) {
    uint8_t scratch[SKIP_BY_READING_MAX];
    return std::fread(scratch, 1, length, file) == length;
  }
  return fseeko(file, static_cast<off_t>(length), SEEK_CUR) == 0;
}

bool IsRunning(const PlaybackContext& context) {
  return context.running.load(std::memory_order_acquire) != 0;
}

ReaderEnd RunReader(PlaybackContext& context, ReaderState& state) {
  platform::Clock& clock = *context.clock;
  ReaderObserver* observer = context.observer;
  while (IsRunning(context)) {
    // 1. Pause.
    if (context.paused.load(std::memory_order_acquire) == 1) {
      WaitWhileRunning(clock, PAUSE_POLL_MS, context.running);
      continue;
    }

    // 2. Open, once per context.
    if (state.file == nullptr) {
      state.file = OpenRecording(context.path, &state.fileLength);
      if (state.file == nullptr) return ReaderEnd::OpenFailed;
      Post(context, WM_PLAYER_FILESIZE, state.fileLength);
    }

    // 3. Seek request; the acquire on the flag makes the target stored before it visible.
    int32_t requested = 1;
    if (context.seekRequested.compare_exchange_strong(requested, 0, std::memory_order_acq_rel)) {
      const int64_t target = context.seekTarget.load(std::memory_order_relaxed);
      const int64_t landing = SeekKeyFrame(state.file, target, context);
      if (landing < 0) return IsRunning(context) ? ReaderEnd::SeekFailed : ReaderEnd::Stopped;
      state.offset = landing;
      state.haveBase = 0;
    }

    // 4. Header.
    FrameHeader header;
    switch (ReadHeader(state.file, &header)) {
      case HeaderRead::Whole:
        break;
      case HeaderRead::Nothing:
        return ReaderEnd::EndOfFile;
      case HeaderRead::Partial:
        return ReaderEnd::CutShort;
    }

    // 5. Resynchronisation, from right after the rejected 32 bytes.
    while (!IsValidFrameHeader(header)) {
      const int64_t found =
          FindNextMagic(state.file, state.offset + FRAME_HEADER_SIZE, &context.running);
      if (found == 0) {
        if (!IsRunning(context)) return ReaderEnd::Stopped;
        if (observer != nullptr) {
          const off_t end = ftello(state.file);
          observer->OnSkipped(state.offset, std::max<int64_t>(end, state.offset));
        }
        return ReaderEnd::NoFurtherMagic;
      }
      if (observer != nullptr) observer->OnSkipped(state.offset, found);
      state.offset = found;
      if (ReadHeader(state.file, &header) != HeaderRead::Whole) return ReaderEnd::CutShort;
    }

    // 6. Player, made once by the first valid frame.
    if (!context.player) {
      const PlayerKind kind =
          (header.frameType == FRAME_H264_KEY || header.frameType == FRAME_H264_NONKEY)
              ? PlayerKind::H264
              : PlayerKind::Jpeg;
      if (context.createPlayer) {
        context.player = context.createPlayer(kind, context.notifyWindow, context.videoWindow);
      }
      if (!context.player) return ReaderEnd::NoPlayer;
      state.isH264 = kind == PlayerKind::H264 ? 1 : 0;
      context.player->Start();
    }

    // 7. Payload.
    const uint32_t length = header.dataLength;
    std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[length]);
    if (!payload) return ReaderEnd::NoMemory;
    if (std::fread(payload.get(), 1, length, state.file) != length) return ReaderEnd::CutShort;
    const int64_t frameOffset = state.offset;

    // 8. Key-frame gate: leading non-key frames pass without wait or message.
    if (state.keySeen == 0 && header.frameType == FRAME_H264_NONKEY) {
      state.offset += FRAME_HEADER_SIZE + static_cast<int64_t>(length);
      continue;
    }
    state.keySeen = 1;

    // 9. Timestamp base.
    if (state.haveBase == 0) {
      state.haveBase = 1;
      state.currentTimestamp = header.seconds;
    }

    // 10. H.264 pacing, before the hand-off.
    uint32_t waitMs = 0;
    if (state.isH264 == 1) {
      if (context.fast.load(std::memory_order_acquire) == 1) {
        waitMs = FAST_H264_MS;
      } else {
        waitMs = static_cast<uint32_t>(H264PacingDelayMs(state.prevSeconds, state.prevMillis,
                                                         header.seconds, header.milliseconds));
      }
      if (waitMs > 0) WaitWhileRunning(clock, waitMs, context.running);
      state.currentTimestamp = header.seconds;
    }

    // 11. Hand-off: the player copies the payload. Every frame goes with key flag 1.
    context.player->InputData(payload.get(), static_cast<int32_t>(length), 1,
                              state.currentTimestamp);
    const uint32_t handedTimestamp = state.currentTimestamp;
    payload.reset();

    // 12. Progress.
    state.offset += FRAME_HEADER_SIZE + static_cast<int64_t>(length);
    Post(context, WM_PLAYER_POSITION, state.offset);

    // 13. JPEG pacing and playback clock, after the progress message.
    if (state.isH264 == 0) {
      waitMs = context.fast.load(std::memory_order_acquire) == 1 ? FAST_JPEG_PICTURE_MS
                                                                 : JPEG_PICTURE_MS;
      WaitWhileRunning(clock, waitMs, context.running);
      state.clockMs += JPEG_CLOCK_STEP_MS;
      if (state.clockMs >= 1000) {
        ++state.currentTimestamp;
        state.clockMs = 0;
      }
    }

    if (observer != nullptr) {
      observer->OnFrame(ReaderFrame{frameOffset, header, handedTimestamp, waitMs});
    }
  }
  return ReaderEnd::Stopped;
}

}  // namespace

// Only a regular file is a recording: a directory or a device has no end to seek to (and
// /dev/zero would feed the magic search for ever), and opening a fifo would block until a
// writer came. Hence the non-blocking open and the check before the stream is made.
FILE* OpenRecording(const std::string& path, int64_t* fileLength) {
  if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  off_t length = -1;
  if (fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
  if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    return nullptr;
  }
  *fileLength = length;
  return file;
}

int ReaderThreadProc(PlaybackContext* context) {
  ReadFrames(*context);
  return 1;
}

void ReadFrames(PlaybackContext& context) {
  ReaderState state;
  const ReaderEnd reason = RunReader(context, state);
  if (state.file != nullptr) std::fclose(state.file);
  if (context.observer != nullptr) context.observer->OnEnd(reason, state.offset);
}

int64_t SeekKeyFrame(FILE* file, int64_t target, const PlaybackContext& context) {
  if (fseeko(file, 0, SEEK_SET) != 0) return -1;
  int64_t offset = 0;
  if (target <= 0) return 0;
  while (IsRunning(context)) {
    FrameHeader header;
    if (ReadHeader(file, &header) != HeaderRead::Whole) return -1;
    if (IsValidFrameHeader(header)) {
      const int64_t end = offset + FRAME_HEADER_SIZE + static_cast<int64_t>(header.dataLength);
      if (end >= target && (header.frameType == FRAME_H264_KEY || header.frameType == FRAME_JPEG)) {
        if (fseeko(file, offset, SEEK_SET) != 0) return -1;
        return offset;
      }
      if (!SkipPayload(file, header.dataLength)) return -1;
      offset = end;
    } else {
      const int64_t found = FindNextMagic(file, offset + FRAME_HEADER_SIZE, &context.running);
      if (found == 0) return -1;
      offset = found;
    }
  }
  return -1;
}

int32_t H264PacingDelayMs(int32_t& prevSeconds, int32_t& prevMillis, uint32_t seconds,
                          uint16_t milliseconds) {
  // seconds is read as a signed 32-bit count; the conversion wraps, as does the narrowing
  // of the difference below, which is taken 64 bits wide so that it cannot overflow.
  const int32_t frameSeconds = static_cast<int32_t>(seconds);
  const int32_t frameMillis = milliseconds;
  if (prevSeconds == 0 || prevMillis == 0) {
    prevSeconds = frameSeconds;
    prevMillis = frameMillis;
    return 0;
  }
  const int32_t d =
      static_cast<int32_t>(static_cast<int64_t>(frameSeconds) - static_cast<int64_t>(prevSeconds));
  int32_t delay;
  if (d > 1) {
    delay = 200;
  } else {
    delay = frameMillis - prevMillis;
    if (frameSeconds != prevSeconds) delay += 1000;
    if (delay < 0 || delay > 1000) delay = 200;
  }
  prevSeconds = frameSeconds;
  prevMillis = frameMillis;
  return delay;
}

int WaitWhileRunning(platform::Clock& clock, uint32_t waitMs, const std::atomic<int32_t>& running) {
  // Measured from one start tick, so the slices' own overshoot does not add up.
  const uint32_t start = clock.TickMs();
  while (running.load(std::memory_order_acquire) != 0) {
    const uint32_t elapsed = clock.TickMs() - start;
    if (elapsed >= waitMs) return 1;
    clock.SleepMs(std::min(waitMs - elapsed, WAIT_SLICE_MS));
  }
  return 0;
}
