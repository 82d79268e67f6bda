#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

// A recording is a plain run of frames, each a 32-byte little-endian header and its payload:
//   0  u32 magic (bytes 55 AA 15 A8)     12 u32 not interpreted
//   4  u8  frameType                     16 u32 dataLength
//   5  u8  not interpreted               20 12 bytes not interpreted
//   6  u16 milliseconds
//   8  u32 seconds since 1970 (UTC)
constexpr uint32_t FRAME_MAGIC = 0xA815AA55u;
constexpr uint8_t FRAME_H264_KEY = 0;
constexpr uint8_t FRAME_H264_NONKEY = 1;
constexpr uint8_t FRAME_JPEG = 3;
constexpr uint32_t MAX_FRAME_LENGTH = 0x80000u;
constexpr int32_t FRAME_HEADER_SIZE = 32;

struct FrameHeader {
  uint32_t magic = 0;
  uint8_t frameType = 0;
  uint8_t reserved5 = 0;
  uint16_t milliseconds = 0;
  uint32_t seconds = 0;
  uint32_t reserved12 = 0;
  uint32_t dataLength = 0;
  uint8_t reserved20[12] = {};
};

// Reads the fields byte by byte, little-endian, whatever the host.
FrameHeader ParseFrameHeader(const uint8_t bytes[FRAME_HEADER_SIZE]);
// The inverse, for the tools that write recordings and for test fixtures.
void SerializeFrameHeader(const FrameHeader& header, uint8_t bytes[FRAME_HEADER_SIZE]);

// Valid when the magic is right, the type is 0, 1 or 3, and dataLength <= MAX_FRAME_LENGTH.
bool IsValidFrameHeader(const FrameHeader& header);

// Searches file byte by byte from start (where the file must be positioned) for the bytes
// 55 AA 15 A8. Returns the offset of the first one found and leaves the file positioned
// there, or returns 0 when the data ends first or the file cannot be positioned. Callers
// pass start >= 32, so 0 never stands for a real offset.
int64_t FindNextMagic(FILE* file, int64_t start);
// The same search, given up (returning 0) once *running is found 0: a long stretch of junk
// must not hold up a teardown. running may be null.
int64_t FindNextMagic(FILE* file, int64_t start, const std::atomic<int32_t>* running);
