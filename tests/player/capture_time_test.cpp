#include "player/capture_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld = old != nullptr;
    if (hadOld) oldValue = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld) {
      setenv("TZ", oldValue.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld = false;
  std::string oldValue;
};

TEST(CaptureTime, PrintsLocalTimeOfTheSecondsAsNineteenCharacters) {
  const struct {
    const char* zone;
    uint32_t seconds;
    const char* text;
  } cases[] = {
      {"UTC0", 0, "1970-01-01 00:00:00"},
      {"CST-8", 0, "1970-01-01 08:00:00"},  // eight hours east of UTC
      {"EST5", 0, "1969-12-31 19:00:00"},
      {"UTC0", 1773480413, "2026-03-14 09:26:53"},
      // The field is unsigned: the last second it can hold lies in 2106, not in 1969.
      {"UTC0", 0xFFFFFFFFu, "2106-02-07 06:28:15"},
  };
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(FormatCaptureTime(c.seconds), c.text) << c.zone << " " << c.seconds;
  }
}

}  // namespace
