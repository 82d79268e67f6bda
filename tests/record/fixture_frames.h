#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace avitest {

struct FixtureFrame {
  std::vector<uint8_t> payload;
  uint32_t keyFlag = 0;
};

// The frames of a recording in tests/data: each a 32-byte header (magic 55 AA 15 A8, frame
// type at byte 4, payload length at byte 16, little-endian) and its payload. Type 1 is the
// one frame type that is not a key frame.
inline std::vector<FixtureFrame> LoadFixtureFrames(const std::string& name) {
  const std::vector<uint8_t> bytes =
      testsupport::ReadFileBytes(testsupport::SourcePath("tests/data/" + name));
  std::vector<FixtureFrame> frames;
  size_t at = 0;
  while (at + 32 <= bytes.size()) {
    const uint8_t* h = bytes.data() + at;
    if (h[0] != 0x55 || h[1] != 0xAA || h[2] != 0x15 || h[3] != 0xA8) break;
    const uint32_t length =
        uint32_t(h[16]) | uint32_t(h[17]) << 8 | uint32_t(h[18]) << 16 | uint32_t(h[19]) << 24;
    if (at + 32 + length > bytes.size()) break;
    frames.push_back(
        FixtureFrame{std::vector<uint8_t>(h + 32, h + 32 + length), h[4] == 1 ? 0u : 1u});
    at += 32 + length;
  }
  return frames;
}

}  // namespace avitest
