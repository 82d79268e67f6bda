#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/critical_section.h"
#include "platform/window.h"
#include "player/video_player.h"

// Plays recordings whose frames are whole JPEG pictures. The decode thread takes each frame
// from the queue, draws it stretched over the whole client area of videoWindow with its
// capture time in red at (10, 10), hands it to an active recording, and keeps its bytes as
// the last picture, drawn or not. The overlay text of the base is stored but never shown.
class CJPEGPlayer : public CVideoPlayer {
 public:
  // notifyWindow receives WM_PLAYER_VIDEOSIZE; pictures appear in videoWindow.
  CJPEGPlayer(platform::Window* notifyWindow, platform::Window* videoWindow);
  // Joins the decode thread before the last picture and the base's queue are freed.
  ~CJPEGPlayer() override;

  void DecodeLoop() override;
  // Draws the last picture again, also handing it to an active recording once more.
  // Returns 1, whether or not there was a picture.
  int Refresh() override;
  // Writes the last picture's bytes, exactly as stored, to path after making its
  // directories. Returns 1 only when every byte was written and the file closed.
  int Snapshot(const std::string& path) override;
  int StartRecord(const std::string& path) override;

  // Decodes and draws one JPEG of length bytes; posts the size message with the first
  // call and offers the bytes to an active recording with key flag 1 and the JPEG's size
  // (0 x 0 when it cannot be decoded, in which case the client area is drawn black with
  // the capture time). Only reads data. Any thread; draws do not wait for each other.
  void DrawJpeg(const uint8_t* data, int32_t length, uint32_t timestamp);

 private:
  CCriticalSection pictureLock;         // guards lastJpeg, lastJpegLength and lastTimestamp
  std::unique_ptr<uint8_t[]> lastJpeg;  // bytes of the last frame taken; null before the first
  int32_t lastJpegLength = 0;
  uint32_t lastTimestamp = 0;  // capture time of that frame, seconds since 1970
  // Set once by whichever draw posts the size message first (decode thread or Refresh).
  std::atomic<int32_t> sizeReported{0};
  platform::Window* notifyWindow;
};
