#include "player/capture_time.h"

#include <cstdio>
#include <ctime>

std::string FormatCaptureTime(uint32_t seconds) {
  // Widened with a zero upper half: the field is unsigned, so times after 2038 stay right.
  const time_t when = static_cast<time_t>(static_cast<uint64_t>(seconds));
  struct tm local {};
  if (localtime_r(&when, &local) == nullptr) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return std::string(text);
}
