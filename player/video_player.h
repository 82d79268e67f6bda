#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/critical_section.h"
#include "platform/window.h"
#include "player/frame_queue.h"

struct CAviRecorder;

// The abstract player: owns a decode thread, the queue that feeds it and an optional
// recording. The reader creates a concrete player, calls Start once and InputData for
// every frame; whoever owns the player deletes it through the virtual destructor.
class CVideoPlayer {
 public:
  explicit CVideoPlayer(platform::Window* videoWindow);
  virtual ~CVideoPlayer();
  CVideoPlayer(const CVideoPlayer&) = delete;
  CVideoPlayer& operator=(const CVideoPlayer&) = delete;

  // Starts the decode thread. Returns 1, or 0 when a thread is already there.
  virtual int Start();
  // Clears running and joins the decode thread. Returns 1.
  virtual int Stop();
  // Queues a copy of one compressed frame; the caller keeps its buffer. Returns 1.
  virtual int InputData(const uint8_t* data, int32_t length, uint32_t keyFlag, uint32_t timestamp);
  // Body of the decode thread: returns once running is found 0.
  virtual void DecodeLoop() = 0;
  // Draws the last picture again.
  virtual int Refresh() = 0;
  // Saves the current picture as a JPEG file.
  virtual int Snapshot(const std::string& path) = 0;
  // Overlay text, at most 127 bytes; longer text is cut there.
  virtual void SetOsdText(const char* text);
  // Overlay on for on > 0, off otherwise.
  virtual void ShowOsd(int32_t on);
  // Starts recording the frames this player presents into an AVI file at path.
  virtual int StartRecord(const std::string& path) = 0;
  // Ends the active recording, if any. Returns 1.
  virtual int StopRecord();

  // Offers one compressed frame to the active recording. Returns 0 when none is active.
  int RecordFrame(const uint8_t* data, int32_t length, uint32_t keyFlag, int32_t width,
                  int32_t height);

  // Waiting frames, for tools that keep the queue short of its flush rule.
  uint32_t QueuedFrames() { return frameQueue ? frameQueue->Count() : 0; }

 protected:
  // Ends any active recording and starts a new one with codec kind 0 (JPEG) or 1 (H.264).
  int BeginRecording(const std::string& path, int32_t codecKind);

  // The first steps of every concrete destructor: clear running and join the decode thread,
  // before anything the loop uses is freed.
  void StopDecodeThread();

  platform::Window* videoWindow;
  std::thread thread;               // not joinable = no decode thread
  std::atomic<int32_t> running{0};  // written by the owner, polled by the decode thread
  std::unique_ptr<CFrameQueue> frameQueue;
  std::unique_ptr<CAviRecorder> recorder;  // read and written only under recorderLock
  char osdText[128];
  std::atomic<int32_t> osdOn{0};
  CCriticalSection recorderLock;  // guards recorder

 private:
  static void DecodeThreadProc(CVideoPlayer* player);
};
