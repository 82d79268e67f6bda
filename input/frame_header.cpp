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
  return FindNextMagic(file, start, nullptr);
}

int64_t FindNextMagic(FILE* file, int64_t start, const std::atomic<int32_t>* running) {
  // How many bytes pass between two looks at running: rare enough to cost nothing, often
  // enough that a teardown is not held up for long.
  static constexpr int64_t kRunningCheckBytes = 64 * 1024;
  uint8_t first[4];
  if (std::fread(first, 1, 4, file) != 4) return 0;
  // The four bytes under the window, read little-endian like the header's magic field.
  uint32_t window = ReadU32(first);
  int64_t n = start;
  int64_t untilCheck = kRunningCheckBytes;
  while (window != FRAME_MAGIC) {
    if (running != nullptr && --untilCheck == 0) {
      if (running->load(std::memory_order_acquire) == 0) return 0;
      untilCheck = kRunningCheckBytes;
    }
    // One byte at a time through the stream's buffer; only the calling thread uses the stream.
    int next = getc_unlocked(file);
    if (next == EOF) return 0;
    window = (window >> 8) | (static_cast<uint32_t>(next) << 24);
    ++n;
  }
  if (fseeko(file, -4, SEEK_CUR) != 0) return 0;
  return n;
}
