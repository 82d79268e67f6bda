#include "player/video_player.h"

#include <cstring>
#include <new>
#include <system_error>

#include "record/avi_recorder.h"

CVideoPlayer::CVideoPlayer(platform::Window* videoWindow)
    : videoWindow(videoWindow), frameQueue(new (std::nothrow) CFrameQueue) {
  std::memset(osdText, 0, sizeof osdText);
}

CVideoPlayer::~CVideoPlayer() {
  // The concrete destructor has joined the decode thread; nothing else reaches the queue.
  frameQueue.reset();
  CriticalSectionGuard guard(recorderLock);
  if (recorder) DestroyRecorder(std::move(recorder));
}

int CVideoPlayer::Start() {
  if (thread.joinable()) return 0;
  running.store(1);
  // A thread that cannot be created is not reported; a later Start tries again.
  try {
    thread = std::thread(&CVideoPlayer::DecodeThreadProc, this);
  } catch (const std::system_error&) {
  }
  return 1;
}

int CVideoPlayer::Stop() {
  running.store(0);
  if (thread.joinable()) thread.join();
  return 1;
}

void CVideoPlayer::StopDecodeThread() {
  Stop();
}

int CVideoPlayer::InputData(const uint8_t* data, int32_t length, uint32_t keyFlag,
                            uint32_t timestamp) {
  if (!frameQueue) return 1;
  return frameQueue->Push(length, data, keyFlag, timestamp, 0, 0);
}

void CVideoPlayer::SetOsdText(const char* text) {
  std::memset(osdText, 0, sizeof osdText);
  if (text == nullptr) return;
  // Longer text is cut at 127 bytes so the terminator always fits.
  std::strncpy(osdText, text, sizeof osdText - 1);
}

void CVideoPlayer::ShowOsd(int32_t on) {
  osdOn.store(on > 0 ? 1 : 0);
}

int CVideoPlayer::StopRecord() {
  CriticalSectionGuard guard(recorderLock);
  if (recorder) DestroyRecorder(std::move(recorder));
  return 1;
}

int CVideoPlayer::BeginRecording(const std::string& path, int32_t codecKind) {
  CriticalSectionGuard guard(recorderLock);
  // The previous recording is stopped and its file completed before the next begins.
  if (recorder) DestroyRecorder(std::move(recorder));
  recorder = CreateRecorder();
  if (recorder) StartRecorderThread(recorder.get(), path, codecKind);
  return 1;
}

int CVideoPlayer::RecordFrame(const uint8_t* data, int32_t length, uint32_t keyFlag, int32_t width,
                              int32_t height) {
  CriticalSectionGuard guard(recorderLock);
  if (!recorder || !recorder->frameQueue) return 0;
  recorder->frameQueue->Push(length, data, keyFlag, 0, width, height);
  return 1;
}

void CVideoPlayer::DecodeThreadProc(CVideoPlayer* player) {
  player->DecodeLoop();
}
