#pragma once

// Fakes for driving the reader: a recording builder, a clock that records its sleeps, a
// player that records what it is handed, and an observer that records the walk.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "input/frame_header.h"
#include "input/playback_context.h"
#include "input/reader.h"
#include "platform/clock.h"

namespace readerfakes {

// Builds a recording in memory, frame by frame, remembering where each frame begins.
class RecordingBuilder {
 public:
  // Appends a frame whose payload is `length` bytes of a pattern derived from its offset.
  // Returns the frame's offset.
  int64_t Frame(uint8_t type, uint32_t seconds, uint16_t milliseconds, uint32_t length = 16) {
    std::vector<uint8_t> payload(length);
    for (uint32_t i = 0; i < length; ++i) {
      payload[i] = static_cast<uint8_t>((bytes.size() + i) * 7 + 1);
    }
    return FrameWith(type, seconds, milliseconds, payload);
  }

  int64_t FrameWith(uint8_t type, uint32_t seconds, uint16_t milliseconds,
                    const std::vector<uint8_t>& payload) {
    FrameHeader header;
    header.magic = FRAME_MAGIC;
    header.frameType = type;
    header.milliseconds = milliseconds;
    header.seconds = seconds;
    header.dataLength = static_cast<uint32_t>(payload.size());
    return Header(header, payload);
  }

  // Appends any header (valid or not) and the bytes after it.
  int64_t Header(const FrameHeader& header, const std::vector<uint8_t>& after = {}) {
    const int64_t offset = static_cast<int64_t>(bytes.size());
    uint8_t raw[FRAME_HEADER_SIZE];
    SerializeFrameHeader(header, raw);
    bytes.insert(bytes.end(), raw, raw + FRAME_HEADER_SIZE);
    bytes.insert(bytes.end(), after.begin(), after.end());
    return offset;
  }

  int64_t Raw(const std::vector<uint8_t>& raw) {
    const int64_t offset = static_cast<int64_t>(bytes.size());
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return offset;
  }

  int64_t Size() const { return static_cast<int64_t>(bytes.size()); }

  std::vector<uint8_t> bytes;
};

inline FrameHeader MakeHeader(uint8_t type, uint32_t length, uint32_t magic = FRAME_MAGIC) {
  FrameHeader header;
  header.magic = magic;
  header.frameType = type;
  header.dataLength = length;
  return header;
}

// A clock whose time moves only by its own sleeps. With advancing off, time stands still and
// every sleep takes a real millisecond, so a wait to a deadline can only end through running.
class FakeClock final : public platform::Clock {
 public:
  explicit FakeClock(uint32_t startTick = 1000, bool advancing = true)
      : now(startTick), advancing(advancing) {}

  uint32_t TickMs() override { return now.load(); }

  void SleepMs(uint32_t ms) override {
    {
      std::lock_guard<std::mutex> guard(mutex);
      sleeps.push_back(ms);
    }
    if (advancing.load()) {
      now.fetch_add(ms);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> guard(mutex);
      hook = onSleep;
    }
    if (hook) hook();
  }

  // Lets time run again: rescues a thread stuck in a wait after a failed expectation.
  void StartAdvancing() { advancing.store(true); }

  // Called after every sleep, on the sleeping thread.
  void SetOnSleep(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(mutex);
    onSleep = std::move(hook);
  }

  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> guard(mutex);
    return sleeps;
  }

  size_t SleepCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return sleeps.size();
  }

 private:
  std::atomic<uint32_t> now;
  std::atomic<bool> advancing;
  std::mutex mutex;
  std::vector<uint32_t> sleeps;
  std::function<void()> onSleep;
};

// What the fake players of one test were asked to do.
struct PlayerLog {
  struct Input {
    std::vector<uint8_t> data;  // kept only for payloads of up to 64 KiB
    int32_t length = 0;
    uint32_t keyFlag = 0;
    uint32_t timestamp = 0;
    uint32_t tick = 0;  // the clock's time at the hand-off
  };

  std::vector<PlayerKind> Made() {
    std::lock_guard<std::mutex> guard(mutex);
    return made;
  }
  std::vector<Input> Inputs() {
    std::lock_guard<std::mutex> guard(mutex);
    return inputs;
  }
  size_t InputCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return inputs.size();
  }
  int Starts() {
    std::lock_guard<std::mutex> guard(mutex);
    return starts;
  }
  int Destroyed() {
    std::lock_guard<std::mutex> guard(mutex);
    return destroyed;
  }

  std::mutex mutex;
  std::vector<PlayerKind> made;
  std::vector<Input> inputs;
  int starts = 0;
  int destroyed = 0;
};

// A player without a decode thread that logs Start, InputData and its destruction.
class FakePlayer final : public CVideoPlayer {
 public:
  FakePlayer(std::shared_ptr<PlayerLog> log, platform::Clock* clock)
      : CVideoPlayer(nullptr), log(std::move(log)), clock(clock) {}
  ~FakePlayer() override {
    std::lock_guard<std::mutex> guard(log->mutex);
    ++log->destroyed;
  }

  int Start() override {
    std::lock_guard<std::mutex> guard(log->mutex);
    ++log->starts;
    return 1;
  }
  int InputData(const uint8_t* data, int32_t length, uint32_t keyFlag,
                uint32_t timestamp) override {
    PlayerLog::Input input;
    if (length <= 64 * 1024) input.data.assign(data, data + length);
    input.length = length;
    input.keyFlag = keyFlag;
    input.timestamp = timestamp;
    input.tick = clock != nullptr ? clock->TickMs() : 0;
    std::lock_guard<std::mutex> guard(log->mutex);
    log->inputs.push_back(std::move(input));
    return 1;
  }
  void DecodeLoop() override {}
  int Refresh() override { return 1; }
  int Snapshot(const std::string&) override { return 0; }
  int StartRecord(const std::string&) override { return 0; }

 private:
  std::shared_ptr<PlayerLog> log;
  platform::Clock* clock;
};

inline PlayerFactory FakePlayerFactory(std::shared_ptr<PlayerLog> log, platform::Clock* clock) {
  return [log, clock](PlayerKind kind, platform::Window*,
                      platform::Window*) -> std::unique_ptr<CVideoPlayer> {
    {
      std::lock_guard<std::mutex> guard(log->mutex);
      log->made.push_back(kind);
    }
    return std::make_unique<FakePlayer>(log, clock);
  };
}

// Records the walk a reader reports, and lets a test act after a given frame.
class RecordingObserver final : public ReaderObserver {
 public:
  struct Skip {
    int64_t from;
    int64_t to;
    bool operator==(const Skip&) const = default;
  };

  void OnSkipped(int64_t from, int64_t to) override {
    std::lock_guard<std::mutex> guard(mutex);
    skips.push_back(Skip{from, to});
  }
  void OnFrame(const ReaderFrame& frame) override {
    std::function<void(const ReaderFrame&)> hook;
    {
      std::lock_guard<std::mutex> guard(mutex);
      frames.push_back(frame);
      hook = afterFrame;
    }
    if (hook) hook(frame);
  }
  void OnEnd(ReaderEnd reason, int64_t offset) override {
    std::lock_guard<std::mutex> guard(mutex);
    endReason = reason;
    endOffset = offset;
    ended = true;
  }

  std::vector<int64_t> FrameOffsets() {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<int64_t> offsets;
    for (const ReaderFrame& frame : frames) offsets.push_back(frame.offset);
    return offsets;
  }
  std::vector<ReaderFrame> Frames() {
    std::lock_guard<std::mutex> guard(mutex);
    return frames;
  }
  std::vector<Skip> Skips() {
    std::lock_guard<std::mutex> guard(mutex);
    return skips;
  }
  bool Ended() {
    std::lock_guard<std::mutex> guard(mutex);
    return ended;
  }
  ReaderEnd EndReason() {
    std::lock_guard<std::mutex> guard(mutex);
    return endReason;
  }

  // Runs after every frame is recorded, on the reader's thread.
  std::function<void(const ReaderFrame&)> afterFrame;

 private:
  std::mutex mutex;
  std::vector<ReaderFrame> frames;
  std::vector<Skip> skips;
  bool ended = false;
  ReaderEnd endReason = ReaderEnd::Stopped;
  int64_t endOffset = -1;
};

}  // namespace readerfakes
