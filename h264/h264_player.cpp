#include "h264/h264_player.h"

#include <new>

#include "h264/ddraw_renderer.h"
#include "h264/h264_decoder.h"
#include "player/capture_time.h"
#include "player/messages.h"

namespace {

// Bytes of the picture buffer of a w x h picture: luma, then U and V of (w*h)/4 each.
int64_t PictureBytes(int32_t w, int32_t h) {
  const int64_t pixels = static_cast<int64_t>(w) * h;
  return pixels + pixels / 2;
}

}  // namespace

CH264Player::CH264Player(platform::Window* notifyWindow, platform::Window* videoWindow)
    : CVideoPlayer(videoWindow), notifyWindow(notifyWindow) {
  decoder.reset(new (std::nothrow) H264DecoderContext);
  renderer.reset(new (std::nothrow) CDDrawRenderer);
  if (renderer) {
    renderer->window = videoWindow;
    // A renderer whose Init failed is kept: it draws nothing, and the player plays on.
    renderer->Init(videoWindow);
  }
}

CH264Player::~CH264Player() {
  // The decode thread uses the renderer, the decoder and the last picture: it ends first.
  StopDecodeThread();
  if (renderer) {
    renderer->Close();
    renderer.reset();
  }
  decoder.reset();
  lastPicture.reset();
}

int CH264Player::Start() {
  return CVideoPlayer::Start();
}

void CH264Player::PollSleep() {
  // A frame is drawn within a slice of its arrival: sleeping the whole interval would let
  // the reader's paced frames pile up and show in bursts, ten pictures a second at best.
  constexpr int32_t SLICE_MS = 5;
  for (int32_t slept = 0; slept < POLL_INTERVAL_MS && running.load() != 0; slept += SLICE_MS) {
    if (frameQueue && frameQueue->Count() > 0) return;
    clock->SleepMs(SLICE_MS);
  }
}

void CH264Player::DecodeLoop() {
  while (running.load() != 0) {
    FrameItem item;
    if (!frameQueue || !frameQueue->Pop(&item)) {
      PollSleep();
      continue;
    }
    // No sleep after a drawn picture: the reader's pacing sets the rate.
    if (DecodeFrame(&item) == 0) PollSleep();
  }
}

int CH264Player::DecodeFrame(FrameItem* item) {
  // Without a decoder the frame is only taken off the queue, so the queue never fills up.
  if (!decoder || !decoder->IsOpen()) {
    item->data.reset();
    return 0;
  }
  int32_t w = 0;
  int32_t h = 0;
  if (decoder->Decode(item->data.get(), item->length, &w, &h) == 0) {
    item->data.reset();
    return 0;
  }
  if (sizeReported == 0) {
    // Posted once in the player's life, by the first picture's width alone.
    const uint64_t sizeClass = w == 1280 ? 2 : (w == 640 ? 1 : 0);
    if (notifyWindow != nullptr) notifyWindow->PostMessage(WM_PLAYER_VIDEOSIZE, sizeClass, 0);
    sizeReported = 1;
  }
  const std::string captureTime = FormatCaptureTime(item->timestamp);
  {
    // Copied, drawn and kept under one hold, so a Refresh never shows an older picture after
    // a newer one.
    CriticalSectionGuard guard(pictureLock);
    if (CachePicture(w, h) == 0) {
      item->data.reset();
      return 0;
    }
    if (renderer) {
      renderer->SetOsd(captureTime.c_str());
      renderer->osdOn.store(1);
    }
    DrawLocked(lastPicture.get(), lastWidth, lastHeight);
  }
  RecordFrame(item->data.get(), item->length, item->keyFlag, w, h);
  item->data.reset();
  return 1;
}

void CH264Player::DrawLocked(const uint8_t* buffer, int32_t w, int32_t h) {
  if (!renderer || buffer == nullptr) return;
  const int64_t lumaBytes = static_cast<int64_t>(w) * h;
  renderer->DrawPicture(buffer, buffer + lumaBytes, buffer + (5 * lumaBytes) / 4, w, h);
}

int CH264Player::CachePicture(int32_t w, int32_t h) {
  // The buffer is kept while the size stays: no allocation and no second copy per picture.
  if (!(lastPicture && lastWidth == w && lastHeight == h)) {
    lastPicture.reset();
    lastPicture.reset(new (std::nothrow) uint8_t[PictureBytes(w, h)]);
    // Without a buffer the picture is skipped and Refresh draws nothing until the next one;
    // the old size stays.
    if (!lastPicture) return 0;
  }
  decoder->CopyPicture(lastPicture.get());
  lastWidth = w;
  lastHeight = h;
  return 1;
}

int CH264Player::Refresh() {
  CriticalSectionGuard guard(pictureLock);
  if (lastPicture) DrawLocked(lastPicture.get(), lastWidth, lastHeight);
  return 1;
}

int CH264Player::Snapshot(const std::string& path) {
  if (!renderer) return 1;
  {
    // The request is written under the lock that serialises draws, so no draw sees half of it.
    CriticalSectionGuard guard(pictureLock);
    renderer->snapshotPath = path;
    renderer->snapshotPending.store(1);
  }
  Refresh();
  return 1;
}

void CH264Player::SetOsdText(const char* text) {
  if (renderer) renderer->SetOsd(text != nullptr ? text : "");
}

void CH264Player::ShowOsd(int32_t on) {
  if (renderer) renderer->osdOn.store(on > 0 ? 1 : 0);
}

int CH264Player::StartRecord(const std::string& path) {
  return BeginRecording(path, 1);
}
