#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/avi_writer.h"
#include "platform/clock.h"
#include "player/frame_queue.h"

// The open AVI file of a recording, its one video stream and the number of the next sample.
// Created at the first key frame and freed by the recorder thread alone.
struct AviFileState {
  std::unique_ptr<platform::AviFile> file;
  platform::AviStreamInfo streamInfo;  // the header the stream was created from
  std::unique_ptr<platform::AviStream> stream;
  int32_t width = 0;  // picture size of the first recorded frame
  int32_t height = 0;
  int32_t sampleCount = 0;  // number of the next sample to write
  int32_t codecKind = 0;
};

// One recording: its thread, its queue of compressed frames and its output file.
// Created and destroyed by a player under the player's recorderLock.
struct CAviRecorder {
  std::atomic<int32_t> running{0};  // set by StartRecorderThread, cleared only by DestroyRecorder
  std::thread thread;               // not joinable = no thread
  std::unique_ptr<CFrameQueue> frameQueue;
  std::unique_ptr<AviFileState> fileState;  // created and freed by the recorder thread alone
  std::string path;
  int32_t codecKind = 0;  // 0: JPEG frames; 1: H.264 frames
  int32_t width = 0;      // picture size with which the file was created
  int32_t height = 0;
  platform::Clock* clock = &platform::RealClock();  // the pacing tick; tests replace it
  platform::AviWriterOptions writerOptions;         // tests lower the RIFF size limit
  // Set by the recorder thread as its last act, after the file is complete, so that a
  // recording that ended by itself (size change, failed write) can be seen without a join.
  std::atomic<int32_t> ended{0};
  // Written by the recorder thread before it sets ended; read after ended or the join.
  int32_t samplesWritten = 0;
  int32_t framesWritten = 0;
};

constexpr int32_t AVI_CODEC_JPEG = 0;
constexpr int32_t AVI_CODEC_H264 = 1;

constexpr uint32_t AVI_SAMPLE_INTERVAL_MS = 20;
constexpr uint32_t AVI_IDLE_POLL_MS = 100;

// A new recorder with its own queue and no thread; null if memory runs out.
std::unique_ptr<CAviRecorder> CreateRecorder();

// Starts the recorder thread. Returns 1 if it started it, 0 if the recorder already has a
// thread or codecKind is neither 0 nor 1.
int StartRecorderThread(CAviRecorder* recorder, const std::string& path, int32_t codecKind);

// Body of the recorder thread: waits for a key frame, then creates the file (and its
// directories) and writes one sample per 20 ms, an empty one when no frame waits, until
// running is cleared, a write fails or the picture size changes. Completes the file as it
// ends.
void RecorderThreadProc(CAviRecorder* recorder);

// Clears running and joins the thread, which completes the file; the recorder stays, so that
// its counts can be read. Does nothing more for a recorder without a thread.
void StopRecorderThread(CAviRecorder* recorder);

// Stops and joins the thread (which completes the file), destroys the queue, frees the
// recorder.
void DestroyRecorder(std::unique_ptr<CAviRecorder> recorder);

// Creates the video stream of an open file from the state's codec kind and picture size.
// Returns 1 on success, 0 on failure.
int CreateAviStream(AviFileState* state);

// Releases the stream, then the file (completing it), and clears the sizes and the count.
void CloseAviFile(AviFileState* state);

// CloseAviFile, then frees the state.
void FreeAviFileState(std::unique_ptr<AviFileState> state);
