#include "jpeg/jpeg_player.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <new>
#include <thread>

#include "platform/canvas.h"
#include "platform/jpeg_codec.h"
#include "player/capture_time.h"
#include "player/messages.h"
#include "record/avi_recorder.h"
#include "record/prepare_directories.h"

namespace {

constexpr auto EMPTY_QUEUE_SLEEP = std::chrono::milliseconds(10);
constexpr platform::ColorRef CAPTURE_TIME_COLOUR = 0x000000FF;  // red, as 0x00BBGGRR

struct FileClose {
  void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

CJPEGPlayer::CJPEGPlayer(platform::Window* notifyWindow, platform::Window* videoWindow)
    : CVideoPlayer(videoWindow), notifyWindow(notifyWindow) {}

CJPEGPlayer::~CJPEGPlayer() {
  StopDecodeThread();
  CriticalSectionGuard guard(pictureLock);
  lastJpeg.reset();
}

void CJPEGPlayer::DecodeLoop() {
  while (running.load() != 0) {
    FrameItem item;
    if (!frameQueue || !frameQueue->Pop(&item)) {
      std::this_thread::sleep_for(EMPTY_QUEUE_SLEEP);
      continue;
    }
    DrawJpeg(item.data.get(), item.length, item.timestamp);

    // The popped payload itself becomes the last picture: it is already this thread's own
    // copy, so nothing is allocated and the frame is kept whether or not it was drawn.
    CriticalSectionGuard guard(pictureLock);
    lastJpeg = std::move(item.data);
    lastJpegLength = std::max(item.length, 0);
    lastTimestamp = item.timestamp;
  }
}

void CJPEGPlayer::DrawJpeg(const uint8_t* data, int32_t length, uint32_t timestamp) {
  if (length < 0 || (data == nullptr && length > 0)) length = 0;
  const platform::Rect client = videoWindow ? videoWindow->GetClientRect() : platform::Rect{};
  const int32_t clientWidth = std::max(client.Width(), 0);
  const int32_t clientHeight = std::max(client.Height(), 0);

  // Decoded no larger than needed to cover the client area; with no client area the
  // smallest scale still tells whether the picture decodes and its size.
  const platform::DecodedImage image = platform::DecodeJpeg(
      data, static_cast<size_t>(length), std::max(clientWidth, 1), std::max(clientHeight, 1));

  if (sizeReported.exchange(1) == 0 && notifyWindow) {
    notifyWindow->PostMessage(WM_PLAYER_VIDEOSIZE, image.width == 640 ? 1 : 0, 0);
  }
  RecordFrame(data, length, 1, image.width, image.height);

  if (!videoWindow || clientWidth == 0 || clientHeight == 0) return;
  if (clientWidth > INT32_MAX / 4) return;
  const int32_t pitch = clientWidth * 4;
  const size_t bytes = static_cast<size_t>(pitch) * static_cast<size_t>(clientHeight);
  std::unique_ptr<uint8_t[]> bits(new (std::nothrow) uint8_t[bytes]);
  if (!bits) return;

  const platform::Rect full{0, 0, clientWidth, clientHeight};
  platform::Canvas canvas(bits.get(), clientWidth, clientHeight, pitch,
                          platform::PixelFormat::Rgb32);
  if (image.width > 0 && !image.pixels.empty()) {
    canvas.DrawImage(image.View(), full);
  } else {
    // A picture that cannot be decoded leaves a black area, never stale memory.
    canvas.Fill(0x00000000);
  }
  canvas.SetBkMode(platform::BackgroundMode::Transparent);
  canvas.SetTextColor(CAPTURE_TIME_COLOUR);
  canvas.SelectFont(platform::FontSpec{"Arial", 20, 800});
  canvas.TextOut(10, 10, FormatCaptureTime(timestamp));

  videoWindow->Present(canvas.View(), full, full, full);
}

int CJPEGPlayer::Refresh() {
  CriticalSectionGuard guard(pictureLock);
  if (lastJpeg) DrawJpeg(lastJpeg.get(), lastJpegLength, lastTimestamp);
  return 1;
}

int CJPEGPlayer::Snapshot(const std::string& path) {
  PrepareDirectories(path);
  CriticalSectionGuard guard(pictureLock);
  if (!lastJpeg) return 0;
  std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
  if (!file) return 0;
  const size_t length = static_cast<size_t>(lastJpegLength);
  const bool written = length == 0 || std::fwrite(lastJpeg.get(), 1, length, file.get()) == length;
  // The tail of the file may still sit in the stream's buffer; only the close says it
  // reached the disk.
  const bool closed = std::fclose(file.release()) == 0;
  return written && closed ? 1 : 0;
}

int CJPEGPlayer::StartRecord(const std::string& path) {
  return BeginRecording(path, AVI_CODEC_JPEG);
}
