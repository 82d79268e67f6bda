#pragma once

#include <cstdint>
#include <string>

// The capture time drawn on every picture: local time of a count of seconds since
// 1970-01-01 00:00:00 UTC, as "YYYY-MM-DD hh:mm:ss". Safe on any thread.
std::string FormatCaptureTime(uint32_t seconds);
