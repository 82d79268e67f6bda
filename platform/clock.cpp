#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

class SteadyClock final : public Clock {
 public:
  uint32_t TickMs() override {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

Clock& RealClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace platform
