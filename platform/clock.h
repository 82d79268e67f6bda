#pragma once

#include <cstdint>

namespace platform {

// Monotonic milliseconds and sleeping, behind one interface so that tests and tools can
// run the waits of a thread without really waiting.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds from an arbitrary start; wraps around at 2^32 like a system tick.
  virtual uint32_t TickMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The process-wide real clock (steady_clock and this_thread::sleep_for).
Clock& RealClock();

// A clock whose time moves only by its own sleeps, which return at once: a thread's waits are
// counted, never waited. For tools and benchmarks that walk a recording at full speed.
class CountingClock final : public Clock {
 public:
  uint32_t TickMs() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms; }

 private:
  uint32_t now = 0;
};

}  // namespace platform
