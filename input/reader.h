#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "input/frame_header.h"
#include "input/playback_context.h"
#include "platform/clock.h"

// Why a reader loop ended.
enum class ReaderEnd : int32_t {
  Stopped,         // running was cleared
  EndOfFile,       // no byte left where the next header would begin
  CutShort,        // a header or a payload is cut off by the end of the file
  NoFurtherMagic,  // a resynchronisation search ran to the end of the file
  OpenFailed,      // the path is not a readable regular file (nothing was posted)
  SeekFailed,      // no key or JPEG frame ends at or after the seek target
  NoPlayer,        // the player could not be made
  NoMemory,        // the payload buffer could not be allocated
};

// One frame handed to the player.
struct ReaderFrame {
  int64_t offset = 0;  // of its header
  FrameHeader header;
  uint32_t timestamp = 0;  // as handed to InputData
  uint32_t waitMs = 0;     // its pacing wait: before the hand-off for H.264, after for JPEG
};

// What a reader loop reports, on the reader's thread. Tools use it to print a walk; the
// player and the dialog do not need it.
class ReaderObserver {
 public:
  virtual ~ReaderObserver() = default;
  // Bytes [from, to) were passed over by resynchronisation (to is the file length when the
  // search found no further magic).
  virtual void OnSkipped(int64_t from, int64_t to) { (void)from, (void)to; }
  // After the frame's hand-off, its progress message and its pacing.
  virtual void OnFrame(const ReaderFrame& frame) { (void)frame; }
  // The loop is over; offset is that of the next header it would have read.
  virtual void OnEnd(ReaderEnd reason, int64_t offset) { (void)reason, (void)offset; }
};

// Opens a recording as the reader does: a regular file only (never blocking on a fifo),
// its length taken and the stream left at byte 0. Null when it cannot.
FILE* OpenRecording(const std::string& path, int64_t* fileLength);

// Thread entry of a context's reader: ReadFrames, then 1 as the exit code.
int ReaderThreadProc(PlaybackContext* context);

// The reader loop: opens the context's file, reports its length, then reads, resynchronises,
// paces and hands on frames, serving pause, fast and seek requests, until the file ends, a
// read fails or running is cleared. It closes the file, leaves the player alive and posts
// nothing about its end.
void ReadFrames(PlaybackContext& context);

// Scans file from byte 0 for the first key (type 0) or JPEG (type 3) frame whose end is at
// or after target, and leaves the file positioned at its header. Returns that header's
// offset, 0 at once for target <= 0, or -1 when no such frame exists or running is cleared.
int64_t SeekKeyFrame(FILE* file, int64_t target, const PlaybackContext& context);

// H.264 pacing of one frame in normal playback: the wait before handing it on, given the
// capture time of the last frame paced. Updates prevSeconds and prevMillis. All arithmetic
// is signed 32-bit, wrapping as two's complement where a difference overflows.
int32_t H264PacingDelayMs(int32_t& prevSeconds, int32_t& prevMillis, uint32_t seconds,
                          uint16_t milliseconds);

// Every wait of the reader: sleeps waitMs on clock to a deadline, in slices of at most
// WAIT_SLICE_MS, and gives up as soon as running is found 0. Returns 1 when the whole wait
// passed, 0 when it was cut short.
constexpr uint32_t WAIT_SLICE_MS = 10;
int WaitWhileRunning(platform::Clock& clock, uint32_t waitMs, const std::atomic<int32_t>& running);
