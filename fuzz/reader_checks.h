#pragma once

// One fuzz input run through the reader loop and the seek scan, with every result checked
// against the recording's bytes. Shared by the fuzz target and the regression test, which
// replays the kept inputs.
//
// Input layout: byte 0 holds flags (1 fast playback, 2 a seek requested before the first
// pass, 4 a seek requested after the first frame), bytes 1-8 a little-endian seek target
// (folded into -16 .. file length + 16), and the rest is the recording.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "input/frame_header.h"
#include "input/playback_context.h"
#include "input/reader.h"

namespace readerchecks {

constexpr size_t INPUT_PREFIX = 9;

using platform::CountingClock;

struct Input {
  std::vector<uint8_t> file;
  bool fast = false;
  bool seekFirst = false;
  bool seekAfterFirstFrame = false;
  int64_t target = 0;
};

inline Input SplitInput(const uint8_t* data, size_t size) {
  Input input;
  if (size < INPUT_PREFIX) {
    input.file.assign(data, data + size);
    return input;
  }
  input.fast = (data[0] & 1) != 0;
  input.seekFirst = (data[0] & 2) != 0;
  input.seekAfterFirstFrame = (data[0] & 4) != 0;
  uint64_t raw = 0;
  for (int i = 0; i < 8; ++i) raw |= static_cast<uint64_t>(data[1 + i]) << (8 * i);
  input.file.assign(data + INPUT_PREFIX, data + size);
  const uint64_t span = input.file.size() + 33;
  input.target = static_cast<int64_t>(raw % span) - 16;
  return input;
}

// The recording as a memory file, which seeks and ends as a disk file does.
class MemoryFile {
 public:
  explicit MemoryFile(const std::vector<uint8_t>& bytes) {
    fd = memfd_create("recording", MFD_CLOEXEC);
    if (fd < 0) return;
    size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
      if (n <= 0) return;
      written += static_cast<size_t>(n);
    }
    ok = true;
  }
  ~MemoryFile() {
    if (fd >= 0) close(fd);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
  bool ok = false;

 private:
  int fd = -1;
};

inline bool MagicAt(const std::vector<uint8_t>& bytes, int64_t at) {
  static const uint8_t kMagic[4] = {0x55, 0xAA, 0x15, 0xA8};
  return at >= 0 && at + 4 <= static_cast<int64_t>(bytes.size()) &&
         std::memcmp(bytes.data() + at, kMagic, 4) == 0;
}

// Where the next header is taken after a rejected one at `rejected`, or -1.
inline int64_t NextMagic(const std::vector<uint8_t>& bytes, int64_t rejected) {
  for (int64_t at = rejected + FRAME_HEADER_SIZE; at + 4 <= static_cast<int64_t>(bytes.size());
       ++at) {
    if (MagicAt(bytes, at)) return at;
  }
  return -1;
}

inline bool HeaderAt(const std::vector<uint8_t>& bytes, int64_t at, FrameHeader* header) {
  if (at < 0 || at + FRAME_HEADER_SIZE > static_cast<int64_t>(bytes.size())) return false;
  *header = ParseFrameHeader(bytes.data() + at);
  return true;
}

// The seek scan worked out on the bytes in memory.
inline int64_t ExpectedLanding(const std::vector<uint8_t>& bytes, int64_t target) {
  if (target <= 0) return 0;
  int64_t offset = 0;
  FrameHeader header;
  while (HeaderAt(bytes, offset, &header)) {
    if (IsValidFrameHeader(header)) {
      const int64_t end = offset + FRAME_HEADER_SIZE + header.dataLength;
      if (end >= target && (header.frameType == FRAME_H264_KEY || header.frameType == FRAME_JPEG)) {
        return offset;
      }
      offset = end;
    } else {
      offset = NextMagic(bytes, offset);
      if (offset < 0) return -1;
    }
  }
  return -1;
}

// The frames a walk from byte 0 without seeking hands on, worked out in memory.
inline std::vector<int64_t> ExpectedWalk(const std::vector<uint8_t>& bytes) {
  std::vector<int64_t> handed;
  int64_t offset = 0;
  bool keySeen = false;
  FrameHeader header;
  while (HeaderAt(bytes, offset, &header)) {
    while (!IsValidFrameHeader(header)) {
      offset = NextMagic(bytes, offset);
      if (offset < 0 || !HeaderAt(bytes, offset, &header)) return handed;
    }
    const int64_t end = offset + FRAME_HEADER_SIZE + header.dataLength;
    if (end > static_cast<int64_t>(bytes.size())) return handed;
    if (keySeen || header.frameType != FRAME_H264_NONKEY) {
      keySeen = true;
      handed.push_back(offset);
    }
    offset = end;
  }
  return handed;
}

// Checks each hand-off, skip and end of the reader loop against the bytes.
class WalkChecker final : public ReaderObserver {
 public:
  WalkChecker(const std::vector<uint8_t>& bytes, PlaybackContext& context, const Input& input)
      : bytes(bytes), context(context), input(input) {}

  void OnSkipped(int64_t from, int64_t to) override {
    const int64_t size = static_cast<int64_t>(bytes.size());
    if (!(from >= 0 && from < to && to <= size && (MagicAt(bytes, to) || to == size))) {
      Fail("skip [" + std::to_string(from) + ", " + std::to_string(to) + ")");
    }
  }

  void OnFrame(const ReaderFrame& frame) override {
    FrameHeader header;
    const int64_t end = frame.offset + FRAME_HEADER_SIZE + frame.header.dataLength;
    if (!HeaderAt(bytes, frame.offset, &header) || !IsValidFrameHeader(header) ||
        std::memcmp(&header, &frame.header, sizeof header) != 0 ||
        end > static_cast<int64_t>(bytes.size())) {
      Fail("frame at " + std::to_string(frame.offset) + " is not the file's");
    } else if (lastInput.size() != frame.header.dataLength ||
               !std::equal(lastInput.begin(), lastInput.end(),
                           bytes.begin() + frame.offset + FRAME_HEADER_SIZE)) {
      Fail("payload of the frame at " + std::to_string(frame.offset) + " differs");
    }
    if (frame.waitMs > 1000) Fail("wait of " + std::to_string(frame.waitMs) + " ms");
    offsets.push_back(frame.offset);
    if (input.seekAfterFirstFrame && offsets.size() == 1) {
      context.seekTarget.store(input.target, std::memory_order_relaxed);
      context.seekRequested.store(1, std::memory_order_release);
    }
  }

  void OnEnd(ReaderEnd reason, int64_t offset) override {
    ended = true;
    endReason = reason;
    if (offset < 0 || offset > static_cast<int64_t>(bytes.size())) {
      Fail("ended at " + std::to_string(offset));
    }
  }

  void Fail(const std::string& what) {
    if (failure.empty()) failure = what;
  }

  const std::vector<uint8_t>& bytes;
  PlaybackContext& context;
  const Input& input;
  std::vector<uint8_t> lastInput;
  std::vector<int64_t> offsets;
  bool ended = false;
  ReaderEnd endReason = ReaderEnd::Stopped;
  std::string failure;
};

class CheckingPlayer final : public CVideoPlayer {
 public:
  explicit CheckingPlayer(WalkChecker& checker) : CVideoPlayer(nullptr), checker(checker) {}
  int Start() override { return 1; }
  int InputData(const uint8_t* data, int32_t length, uint32_t keyFlag, uint32_t) override {
    if (length < 0 || keyFlag != 1) checker.Fail("hand-off of length " + std::to_string(length));
    checker.lastInput.assign(data, data + std::max(length, 0));
    return 1;
  }
  void DecodeLoop() override {}
  int Refresh() override { return 1; }
  int Snapshot(const std::string&) override { return 0; }
  int StartRecord(const std::string&) override { return 0; }

 private:
  WalkChecker& checker;
};

// Runs one input; returns "" when every check holds, else what failed.
inline std::string CheckReaderOn(const uint8_t* data, size_t size) {
  const Input input = SplitInput(data, size);
  MemoryFile memory(input.file);
  if (!memory.ok) return std::string();  // no memory file here: nothing to check

  // The seek scan, against the same scan worked out in memory.
  {
    std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(memory.Path());
    context->running.store(1);
    int64_t length = -1;
    FILE* file = OpenRecording(memory.Path(), &length);
    if (file == nullptr) return "the memory file does not open";
    if (length != static_cast<int64_t>(input.file.size())) return "wrong file length";
    const int64_t landing = SeekKeyFrame(file, input.target, *context);
    const int64_t position = ftello(file);
    std::fclose(file);
    const int64_t expected = ExpectedLanding(input.file, input.target);
    if (landing != expected) {
      return "seek to " + std::to_string(input.target) + " landed at " + std::to_string(landing) +
             ", not " + std::to_string(expected);
    }
    if (landing >= 0 && position != landing) return "seek left the file elsewhere";
  }

  // The reader loop.
  CountingClock clock;
  std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(memory.Path());
  WalkChecker checker(input.file, *context, input);
  context->clock = &clock;
  context->observer = &checker;
  context->createPlayer = [&checker](PlayerKind, platform::Window*, platform::Window*) {
    return std::unique_ptr<CVideoPlayer>(new CheckingPlayer(checker));
  };
  context->fast.store(input.fast ? 1 : 0);
  if (input.seekFirst) {
    context->seekTarget.store(input.target, std::memory_order_relaxed);
    context->seekRequested.store(1, std::memory_order_release);
  }
  context->running.store(1);
  ReadFrames(*context);
  if (!checker.failure.empty()) return checker.failure;
  if (!checker.ended) return "the walk did not end";
  if (!input.seekFirst && !input.seekAfterFirstFrame &&
      checker.offsets != ExpectedWalk(input.file)) {
    return "the walk handed on other frames than the file holds";
  }
  return std::string();
}

}  // namespace readerchecks
