#include "input/frame_header.h"

#include <cstring>

namespace {

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

FrameHeader ParseFrameHeader(const uint8_t bytes[FRAME_HEADER_SIZE]) {
  FrameHeader header;
  header.magic = ReadU32(bytes);
  header.frameType = bytes[4];
  header.reserved5 = bytes[5];
  header.milliseconds = static_cast<uint16_t>(bytes[6] | (bytes[7] << 8));
  header.seconds = ReadU32(bytes + 8);
  header.reserved12 = ReadU32(bytes + 12);
  header.dataLength = ReadU32(bytes + 16);
  std::memcpy(header.reserved20, bytes + 20, sizeof header.reserved20);
  return header;
}

void SerializeFrameHeader(const FrameHeader& header, uint8_t bytes[FRAME_HEADER_SIZE]) {
  WriteU32(bytes, header.magic);
  bytes[4] = header.frameType;
  bytes[5] = header.reserved5;
  bytes[6] = static_cast<uint8_t>(header.milliseconds);
  bytes[7] = static_cast<uint8_t>(header.milliseconds >> 8);
  WriteU32(bytes + 8, header.seconds);
  WriteU32(bytes + 12, header.reserved12);
  WriteU32(bytes + 16, header.dataLength);
  std::memcpy(bytes + 20, header.reserved20, sizeof header.reserved20);
}

bool IsValidFrameHeader(const FrameHeader& header) {
  if (header.magic != FRAME_MAGIC) return false;
  if (header.frameType != FRAME_H264_KEY && header.frameType != FRAME_H264_NONKEY &&
      header.frameType != FRAME_JPEG) {
    return false;
  }
  return header.dataLength <= MAX_FRAME_LENGTH;
}

int64_t FindNextMagic(FILE* file, int64_t start) {
  static constexpr uint8_t kMagic[4] = {0x55, 0xAA, 0x15, 0xA8};
  uint8_t window[4];
  if (std::fread(window, 1, 4, file) != 4) return 0;
  int64_t n = start;
  while (std::memcmp(window, kMagic, 4) != 0) {
    int next = std::fgetc(file);
    if (next == EOF) return 0;
    std::memmove(window, window + 1, 3);
    window[3] = static_cast<uint8_t>(next);
    ++n;
  }
  if (fseeko(file, -4, SEEK_CUR) != 0) return 0;
  return n;
}
