#include "input/frame_header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const uint8_t kMagic[4] = {0x55, 0xAA, 0x15, 0xA8};

std::vector<uint8_t> HeaderBytes(uint32_t magic, uint8_t type, uint32_t length) {
  FrameHeader h;
  h.magic = magic;
  h.frameType = type;
  h.dataLength = length;
  std::vector<uint8_t> bytes(FRAME_HEADER_SIZE);
  SerializeFrameHeader(h, bytes.data());
  return bytes;
}

struct ValidityCase {
  const char* name;
  uint32_t magic;
  uint8_t type;
  uint32_t length;
  bool valid;
};

class FrameHeaderValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(FrameHeaderValidity, AcceptsOnlyTheMagicKnownTypesAndLengthsUpToTheLimit) {
  const ValidityCase& c = GetParam();
  std::vector<uint8_t> bytes = HeaderBytes(c.magic, c.type, c.length);
  EXPECT_EQ(IsValidFrameHeader(ParseFrameHeader(bytes.data())), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameHeaderValidity,
    ::testing::Values(ValidityCase{"h264_key", FRAME_MAGIC, 0, 100, true},
                      ValidityCase{"h264_nonkey", FRAME_MAGIC, 1, 100, true},
                      ValidityCase{"type2", FRAME_MAGIC, 2, 100, false},
                      ValidityCase{"jpeg", FRAME_MAGIC, 3, 100, true},
                      ValidityCase{"type4", FRAME_MAGIC, 4, 100, false},
                      ValidityCase{"type255", FRAME_MAGIC, 255, 100, false},
                      ValidityCase{"length0", FRAME_MAGIC, 0, 0, true},
                      ValidityCase{"lengthAtLimit", FRAME_MAGIC, 3, 0x80000, true},
                      ValidityCase{"lengthOverLimit", FRAME_MAGIC, 3, 0x80001, false},
                      ValidityCase{"lengthHuge", FRAME_MAGIC, 0, 0xFFFFFFFF, false},
                      ValidityCase{"magicReversed", 0x55AA15A8, 0, 100, false},
                      ValidityCase{"magicZero", 0, 0, 100, false}),
    [](const ::testing::TestParamInfo<ValidityCase>& info) { return info.param.name; });

TEST(FrameHeader, ParsesLittleEndianFieldsWhateverTheOtherBytes) {
  const uint8_t bytes[FRAME_HEADER_SIZE] = {0x55, 0xAA, 0x15, 0xA8,  // magic
                                            0x03, 0xEE,              // type, not interpreted
                                            0xE7, 0x03,              // 999 ms
                                            0x78, 0x56, 0x34, 0x12,  // seconds
                                            0xDE, 0xAD, 0xBE, 0xEF,  // not interpreted
                                            0x00, 0x00, 0x08, 0x00,  // 0x80000
                                            1,    2,    3,    4,    5, 6, 7, 8, 9, 10, 11, 12};
  FrameHeader h = ParseFrameHeader(bytes);
  EXPECT_EQ(h.magic, FRAME_MAGIC);
  EXPECT_EQ(h.frameType, FRAME_JPEG);
  EXPECT_EQ(h.milliseconds, 999);
  EXPECT_EQ(h.seconds, 0x12345678u);
  EXPECT_EQ(h.dataLength, MAX_FRAME_LENGTH);
  EXPECT_TRUE(IsValidFrameHeader(h));

  uint8_t again[FRAME_HEADER_SIZE];
  SerializeFrameHeader(h, again);
  EXPECT_EQ(0, std::memcmp(bytes, again, FRAME_HEADER_SIZE));
}

// A stdio stream over bytes, positioned at `position`, as the reader holds it.
FILE* StreamOf(const std::vector<uint8_t>& bytes, long position) {
  FILE* file = std::tmpfile();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fseek(file, position, SEEK_SET);
  return file;
}

TEST(FindNextMagic, ResumesAfterTheRejectedHeaderSoAMagicInsideItIsMissed) {
  // A rejected header at 0 with a magic at byte 5, then a magic inside a later payload.
  std::vector<uint8_t> bytes(200, 0x11);
  std::copy(kMagic, kMagic + 4, bytes.begin() + 5);
  std::copy(kMagic, kMagic + 4, bytes.begin() + 77);
  FILE* file = StreamOf(bytes, FRAME_HEADER_SIZE);
  EXPECT_EQ(FindNextMagic(file, FRAME_HEADER_SIZE), 77);
  // The stream is left at the magic, ready for the header read.
  EXPECT_EQ(ftello(file), 77);
  uint8_t header[4];
  ASSERT_EQ(std::fread(header, 1, 4, file), 4u);
  EXPECT_EQ(0, std::memcmp(header, kMagic, 4));
  std::fclose(file);
}

TEST(FindNextMagic, FindsAMagicRightWhereTheSearchStartsAndOneOverlappingItsOwnBytes) {
  std::vector<uint8_t> bytes(40, 0);
  std::copy(kMagic, kMagic + 4, bytes.begin() + 32);
  FILE* file = StreamOf(bytes, 32);
  EXPECT_EQ(FindNextMagic(file, 32), 32);
  std::fclose(file);

  // 55 55 AA 15 A8: the window slides one byte and still sees the magic at 33.
  std::vector<uint8_t> overlap(32, 0);
  overlap.push_back(0x55);
  overlap.insert(overlap.end(), kMagic, kMagic + 4);
  file = StreamOf(overlap, 32);
  EXPECT_EQ(FindNextMagic(file, 32), 33);
  std::fclose(file);
}

struct NoMagicCase {
  const char* name;
  std::vector<uint8_t> tail;  // what follows the rejected 32-byte header
};

class FindNextMagicWithout : public ::testing::TestWithParam<NoMagicCase> {};

TEST_P(FindNextMagicWithout, ReturnsZeroWhenTheDataEnds) {
  std::vector<uint8_t> bytes(FRAME_HEADER_SIZE, 0x00);
  const std::vector<uint8_t>& tail = GetParam().tail;
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  FILE* file = StreamOf(bytes, FRAME_HEADER_SIZE);
  EXPECT_EQ(FindNextMagic(file, FRAME_HEADER_SIZE), 0);
  std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindNextMagicWithout,
    ::testing::Values(NoMagicCase{"nothing", {}}, NoMagicCase{"fewerThanFour", {0x55, 0xAA}},
                      NoMagicCase{"endsInsideTheMagic", {1, 2, 3, 0x55, 0xAA, 0x15}},
                      NoMagicCase{"reversedMagic", {0xA8, 0x15, 0xAA, 0x55, 0, 0}}),
    [](const ::testing::TestParamInfo<NoMagicCase>& info) { return info.param.name; });

TEST(FindNextMagic, ReportsMagicOffsetsPastFourGigabytes) {
  // Offsets are 64-bit: the result is start plus the bytes slid over, whatever start is.
  std::vector<uint8_t> bytes(16, 0);
  std::copy(kMagic, kMagic + 4, bytes.begin() + 9);
  FILE* file = StreamOf(bytes, 0);
  const int64_t start = (int64_t{1} << 32) + 100;
  EXPECT_EQ(FindNextMagic(file, start), start + 9);
  std::fclose(file);
}

}  // namespace
