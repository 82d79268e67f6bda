#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/critical_section.h"
#include "platform/window.h"
#include "player/frame_queue.h"
#include "player/video_player.h"

struct H264DecoderContext;
class CDDrawRenderer;

// The player of H.264 recordings. Its decode thread takes compressed frames from the queue,
// decodes them with libavcodec, draws each picture with its capture time through its
// renderer into the video window, keeps a copy of the last picture for Refresh and Snapshot,
// tells notifyWindow the size class of the first picture, and hands every frame that gave a
// picture to an active recording.
//
// Threads: the reader constructs, starts and feeds the player; the decode thread runs
// DecodeLoop; Refresh, Snapshot, SetOsdText, ShowOsd and StartRecord run on their caller's
// thread; the owner deletes it. Every draw happens under pictureLock, so a Refresh or a
// Snapshot never draws while the decode thread does.
class CH264Player : public CVideoPlayer {
 public:
  // Size of the sleep when the queue is empty and after a frame that gave no picture.
  static constexpr int32_t POLL_INTERVAL_MS = 100;

  // Pictures appear in videoWindow; notifyWindow receives WM_PLAYER_VIDEOSIZE. The player
  // is made whether or not its decoder or renderer could be set up.
  CH264Player(platform::Window* notifyWindow, platform::Window* videoWindow);
  ~CH264Player() override;

  int Start() override;
  void DecodeLoop() override;
  // Draws the last picture again under the renderer's current overlay. Returns 1.
  int Refresh() override;
  // Saves the next picture the renderer draws as a JPEG file at path, and redraws the last
  // picture at once so that a player that has one saves it now. Returns 1.
  int Snapshot(const std::string& path) override;
  // Overlay text for the renderer; the next decoded picture replaces it with its capture time.
  void SetOsdText(const char* text) override;
  // Renderer overlay on for on > 0, off otherwise, until the next decoded picture.
  void ShowOsd(int32_t on) override;
  // Records the frames that give pictures into an AVI file at path, as H.264. Returns
  // BeginRecording's result.
  int StartRecord(const std::string& path) override;

 protected:
  // Steps of the decode loop for one popped frame: decode, report the size class, copy the
  // picture into the last picture, overlay the capture time, draw, record. Frees the frame's
  // payload. Returns 1 when a picture was drawn, 0 when the frame gave none or it could not
  // be held (the loop then sleeps).
  int DecodeFrame(FrameItem* item);
  // Copies the decoder's picture into lastPicture, in the picture buffer layout; that copy
  // is the one drawn. Returns 0, leaving no last picture, when the buffer cannot be had. The
  // caller holds pictureLock.
  int CachePicture(int32_t w, int32_t h);
  // Hands the picture buffer of a w x h picture to the renderer. The caller holds pictureLock.
  void DrawLocked(const uint8_t* buffer, int32_t w, int32_t h);
  // Sleeps while the queue is empty, POLL_INTERVAL_MS at most, in slices: it returns early
  // once running is cleared or a frame has arrived.
  void PollSleep();

  std::unique_ptr<H264DecoderContext> decoder;  // used by the decode thread only
  std::unique_ptr<CDDrawRenderer> renderer;     // drawn into under pictureLock only
  std::unique_ptr<uint8_t[]> lastPicture;       // guarded by pictureLock
  int32_t lastWidth = 0;                        // guarded by pictureLock
  int32_t lastHeight = 0;                       // guarded by pictureLock
  CCriticalSection pictureLock;                 // guards the last picture and serialises every draw
  int32_t sizeReported = 0;                     // decode thread only
  platform::Window* notifyWindow;
  platform::Clock* clock = &platform::RealClock();  // the poll's sleeps; set before Start
};
