#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "player/frame_queue.h"

struct AviFileState;

// One recording: its thread, its queue of compressed frames and its output file.
// Created and destroyed by a player under the player's recorderLock.
struct CAviRecorder {
  std::atomic<int32_t> running{0};   // set by StartRecorderThread, cleared only by DestroyRecorder
  std::thread thread;                // not joinable = no thread
  std::unique_ptr<CFrameQueue> frameQueue;
  AviFileState* fileState = nullptr;  // created and freed by the recorder thread alone
  std::string path;
  int32_t codecKind = 0;  // 0: JPEG frames; 1: H.264 frames
  int32_t width = 0;      // picture size with which the file was created
  int32_t height = 0;
  platform::Clock* clock = &platform::RealClock();  // the pacing tick; tests replace it
};

constexpr int32_t AVI_CODEC_JPEG = 0;
constexpr int32_t AVI_CODEC_H264 = 1;

// A new recorder with its own queue and no thread.
std::unique_ptr<CAviRecorder> CreateRecorder();

// Starts the recorder thread. Returns 1 if it started it, 0 if the recorder already has a
// thread or codecKind is neither 0 nor 1.
int StartRecorderThread(CAviRecorder* recorder, const std::string& path, int32_t codecKind);

// Body of the recorder thread.
void RecorderThreadProc(CAviRecorder* recorder);

// Stops and joins the thread (which completes the file), destroys the queue, frees the
// recorder.
void DestroyRecorder(std::unique_ptr<CAviRecorder> recorder);
