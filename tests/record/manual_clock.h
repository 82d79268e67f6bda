#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace avitest {

// A clock that moves only when the test moves it, so that a thread's waits run in lockstep
// with the test. SleepMs blocks until the test has advanced time past its end, or until the
// watched running flag is cleared (so that a join is never held up by a sleep).
class ManualClock : public platform::Clock {
 public:
  explicit ManualClock(uint32_t startMs = 1000) : start(startMs) {}

  void Watch(const std::atomic<int32_t>* flag) { watched = flag; }

  uint32_t TickMs() override {
    std::lock_guard<std::mutex> guard(mutex);
    return start + static_cast<uint32_t>(elapsed);
  }

  void SleepMs(uint32_t ms) override {
    std::unique_lock<std::mutex> guard(mutex);
    sleeps.push_back(ms);
    const uint64_t wakeAt = elapsed + ms;
    changed.notify_all();
    while (elapsed < wakeAt) {
      if (watched != nullptr && watched->load() == 0) return;
      changed.wait_for(guard, std::chrono::milliseconds(1));
    }
  }

  // Waits until the sleeper has begun its next sleep, runs whileAsleep (the sleeper cannot
  // move meanwhile), then advances time by that sleep's length so that it wakes. Returns
  // false, advancing nothing, when gone() holds first (the sleeper's thread has ended) or
  // no sleep began within the guard.
  bool Step(const std::function<void()>& whileAsleep = {}, const std::function<bool()>& gone = {},
            std::chrono::milliseconds guard = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    std::unique_lock<std::mutex> lock(mutex);
    while (sleeps.size() <= stepped) {
      if ((gone && gone()) || std::chrono::steady_clock::now() >= deadline) return false;
      changed.wait_for(lock, std::chrono::milliseconds(1));
    }
    lock.unlock();
    if (whileAsleep) whileAsleep();
    lock.lock();
    elapsed += sleeps[stepped++];
    changed.notify_all();
    return true;
  }

  // Waits until the sleeper has begun a sleep that no Step has ended yet; false when gone()
  // holds first or the guard passes.
  bool WaitAsleep(const std::function<bool()>& gone = {},
                  std::chrono::milliseconds guard = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    std::unique_lock<std::mutex> lock(mutex);
    while (sleeps.size() <= stepped) {
      if ((gone && gone()) || std::chrono::steady_clock::now() >= deadline) return false;
      changed.wait_for(lock, std::chrono::milliseconds(1));
    }
    return true;
  }

  // True once the sleeper has begun sleep number count (counting from 1).
  bool WaitForSleeps(size_t count, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, guard, [&] { return sleeps.size() >= count; });
  }

  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> guard(mutex);
    return sleeps;
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  const uint32_t start;
  uint64_t elapsed = 0;
  std::vector<uint32_t> sleeps;
  size_t stepped = 0;
  const std::atomic<int32_t>* watched = nullptr;
};

}  // namespace avitest
