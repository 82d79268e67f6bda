#include "h264/h264_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/h264/h264_test_support.h"
#include "tests/support/test_support.h"

namespace {

using h264test::ReadRecording;
using h264test::RecordedFrame;

struct DecodedPicture {
  int got = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> bytes;  // the picture buffer, when got
};

DecodedPicture DecodeOne(H264DecoderContext& decoder, const std::vector<uint8_t>& payload) {
  DecodedPicture picture;
  // An exact-size copy, so nothing past the payload is there to be read.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[payload.size() + 1]);
  if (!payload.empty()) std::memcpy(exact.get(), payload.data(), payload.size());
  picture.got =
      decoder.Decode(payload.empty() ? nullptr : exact.get(), static_cast<int32_t>(payload.size()),
                     &picture.width, &picture.height);
  if (picture.got) {
    const size_t wh = static_cast<size_t>(picture.width) * picture.height;
    // One guard byte past the buffer's end shows a copy that runs over.
    picture.bytes.assign(wh + wh / 2 + 1, 0xA5);
    EXPECT_EQ(decoder.CopyPicture(picture.bytes.data()), 1);
    EXPECT_EQ(picture.bytes.back(), 0xA5) << "CopyPicture wrote past the picture buffer";
    picture.bytes.pop_back();
  }
  return picture;
}

struct Fixture {
  const char* file;
  int32_t width;
  int32_t height;
};

// Fixture recordings and their independent decode, made once for the whole suite.
class H264Decoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch = new testsupport::TempDir;
    for (const Fixture& fixture : kFixtures) {
      Loaded& loaded = (*loadedFixtures)[fixture.file];
      loaded.frames =
          ReadRecording(testsupport::SourcePath(std::string("tests/data/") + fixture.file));
      loaded.reference = h264test::ReferenceDecode(h264test::Concatenate(loaded.frames),
                                                   fixture.width, fixture.height, scratch->Path());
    }
  }
  static void TearDownTestSuite() {
    delete scratch;
    scratch = nullptr;
  }

  struct Loaded {
    std::vector<RecordedFrame> frames;
    std::vector<std::vector<uint8_t>> reference;
  };
  static const Loaded& Get(const char* file) { return (*loadedFixtures)[file]; }

  static constexpr Fixture kFixtures[] = {{"h264_320x240.h264", 320, 240},
                                          {"h264_640x480.h264", 640, 480},
                                          {"h264_1280x720.h264", 1280, 720}};
  static inline testsupport::TempDir* scratch = nullptr;
  static inline std::map<std::string, Loaded>* loadedFixtures = new std::map<std::string, Loaded>;
};

TEST_F(H264Decoder, EveryFixtureFrameGivesThePictureAnIndependentDecoderGives) {
  for (const Fixture& fixture : kFixtures) {
    SCOPED_TRACE(fixture.file);
    const Loaded& loaded = Get(fixture.file);
    ASSERT_FALSE(loaded.frames.empty());
    ASSERT_EQ(loaded.reference.size(), loaded.frames.size()) << "the ffmpeg tool's decode";
    H264DecoderContext decoder;
    ASSERT_TRUE(decoder.IsOpen());
    for (size_t i = 0; i < loaded.frames.size(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      DecodedPicture picture = DecodeOne(decoder, loaded.frames[i].payload);
      ASSERT_EQ(picture.got, 1) << "one frame in must give its picture out at once";
      EXPECT_EQ(picture.width, fixture.width);
      EXPECT_EQ(picture.height, fixture.height);
      EXPECT_TRUE(picture.bytes == loaded.reference[i]) << "picture bytes differ";
    }
  }
}

TEST_F(H264Decoder, ADecoderThatCannotBeFoundDecodesNothing) {
  H264DecoderContext missing(AV_CODEC_ID_NONE);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.codec, nullptr);
  int32_t width = -1, height = -1;
  const Loaded& loaded = Get("h264_320x240.h264");
  ASSERT_FALSE(loaded.frames.empty());
  EXPECT_EQ(missing.Decode(loaded.frames[0].payload.data(),
                           static_cast<int32_t>(loaded.frames[0].payload.size()), &width, &height),
            0);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  std::vector<uint8_t> buffer(16, 0x5A);
  EXPECT_EQ(missing.CopyPicture(buffer.data()), 0);
  EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0x5A));
}

// Damage in the middle of a stream spoils pictures only until the next key frame.
TEST_F(H264Decoder, DamageMidStreamIsOverAtTheNextKeyFrame) {
  const Loaded& loaded = Get("h264_640x480.h264");
  ASSERT_EQ(loaded.frames.size(), 12u);
  ASSERT_EQ(loaded.reference.size(), 12u);
  ASSERT_TRUE(loaded.frames[6].Key());
  H264DecoderContext decoder;
  for (size_t i = 0; i < 3; ++i) ASSERT_EQ(DecodeOne(decoder, loaded.frames[i].payload).got, 1);
  std::vector<uint8_t> cut(
      loaded.frames[3].payload.begin(),
      loaded.frames[3].payload.begin() + static_cast<long>(loaded.frames[3].payload.size() / 3));
  std::vector<uint8_t> noise(3000);
  std::mt19937 random(5);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
  DecodeOne(decoder, cut);
  DecodeOne(decoder, noise);
  DecodeOne(decoder, {});
  for (size_t i = 6; i < 12; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    DecodedPicture picture = DecodeOne(decoder, loaded.frames[i].payload);
    ASSERT_EQ(picture.got, 1);
    EXPECT_EQ(picture.width, 640);
    EXPECT_TRUE(picture.bytes == loaded.reference[i]) << "picture bytes differ";
  }
}

// Bad input first, then the 320x240 fixture from its first key frame: whatever came before,
// the good stream decodes to the independent decoder's pictures.
// What one bad packet must give: no picture, a 640x480 picture, or whatever the decoder's
// error concealment makes of it.
enum class Gives { Nothing, Picture640x480, Either };
struct Packet {
  std::vector<uint8_t> bytes;
  Gives gives = Gives::Nothing;
};
using Packets = std::vector<Packet>;

struct BadInput {
  const char* name;
  Packets (*make)(const std::string& scratchDir);
};
void PrintTo(const BadInput& input, std::ostream* out) {
  *out << input.name;
}

Packets RandomPackets(const std::string&) {
  std::mt19937 random(17);
  Packets packets;
  for (size_t size : {1u, 7u, 100u, 5000u, 60000u}) {
    std::vector<uint8_t> packet(size);
    for (uint8_t& b : packet) b = static_cast<uint8_t>(random());
    packets.push_back({packet});
  }
  // Start codes with slice and parameter set headers followed by noise reach deeper.
  for (uint8_t type : {0x67, 0x68, 0x65, 0x41, 0x06}) {
    std::vector<uint8_t> packet = {0, 0, 0, 1, type};
    for (int i = 0; i < 400; ++i) packet.push_back(static_cast<uint8_t>(random()));
    packets.push_back({packet});
  }
  return packets;
}

Packets ZeroLengthPackets(const std::string&) {
  return {{}, {}, {}};
}

// Cut before its slice data a key frame gives nothing; cut inside it, the decoder shows what
// it has and conceals the rest.
Packets TruncatedUnits(const std::string&) {
  const auto frames = ReadRecording(testsupport::SourcePath("tests/data/h264_640x480.h264"));
  const std::vector<uint8_t>& key = frames.at(0).payload;
  Packets packets;
  for (size_t keep : {size_t{3}, size_t{5}, size_t{40}}) {
    packets.push_back({{key.begin(), key.begin() + static_cast<long>(keep)}});
  }
  for (size_t keep : {key.size() / 2, key.size() - 1}) {
    packets.push_back({{key.begin(), key.begin() + static_cast<long>(keep)}, Gives::Either});
  }
  return packets;
}

Packets KeyFrameWithoutParameterSets(const std::string&) {
  const auto frames = ReadRecording(testsupport::SourcePath("tests/data/h264_640x480.h264"));
  std::vector<uint8_t> stripped = h264test::WithoutParameterSets(frames.at(0).payload);
  EXPECT_LT(stripped.size(), frames.at(0).payload.size()) << "the key frame had no SPS/PPS";
  return {{stripped}, {frames.at(1).payload}};
}

Packets EncodedUnits(const std::string& format, const std::string& dir) {
  std::vector<uint8_t> stream = h264test::EncodeTestStream("320x240", format, 4, dir);
  EXPECT_FALSE(stream.empty()) << "the ffmpeg tool could not encode " << format;
  Packets packets;
  for (auto& unit : h264test::SplitAtDelimiters(stream)) packets.push_back({unit});
  return packets;
}
Packets Chroma422(const std::string& dir) {
  return EncodedUnits("yuv422p", dir);
}
Packets Chroma444(const std::string& dir) {
  return EncodedUnits("yuv444p", dir);
}
Packets TenBit(const std::string& dir) {
  return EncodedUnits("yuv420p10le", dir);
}

Packets LargerPicturesFirst(const std::string&) {
  Packets packets;
  for (const RecordedFrame& frame :
       ReadRecording(testsupport::SourcePath("tests/data/h264_640x480.h264"))) {
    packets.push_back({frame.payload, Gives::Picture640x480});
  }
  return packets;
}

class H264DecoderBadInput : public H264Decoder, public ::testing::WithParamInterface<BadInput> {};

TEST_P(H264DecoderBadInput, GivesNoWrongPictureAndTheNextKeyFrameDecodesNormally) {
  testsupport::TempDir dir;
  const Packets bad = GetParam().make(dir.Path());
  ASSERT_FALSE(bad.empty());
  H264DecoderContext decoder;
  ASSERT_TRUE(decoder.IsOpen());
  for (size_t i = 0; i < bad.size(); ++i) {
    DecodedPicture picture = DecodeOne(decoder, bad[i].bytes);
    if (bad[i].gives == Gives::Picture640x480) {
      EXPECT_EQ(picture.got, 1) << "packet " << i;
      EXPECT_EQ(picture.width, 640);
      EXPECT_EQ(picture.height, 480);
    } else if (bad[i].gives == Gives::Nothing) {
      EXPECT_EQ(picture.got, 0) << "packet " << i << " gave a picture";
    }
  }
  const Loaded& good = Get("h264_320x240.h264");
  ASSERT_EQ(good.reference.size(), good.frames.size());
  for (size_t i = 0; i < good.frames.size(); ++i) {
    SCOPED_TRACE("good frame " + std::to_string(i));
    DecodedPicture picture = DecodeOne(decoder, good.frames[i].payload);
    ASSERT_EQ(picture.got, 1);
    EXPECT_EQ(picture.width, 320);
    EXPECT_EQ(picture.height, 240);
    EXPECT_TRUE(picture.bytes == good.reference[i]) << "picture bytes differ";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, H264DecoderBadInput,
    ::testing::Values(BadInput{"RandomBytes", RandomPackets},
                      BadInput{"ZeroLength", ZeroLengthPackets},
                      BadInput{"TruncatedKeyFrame", TruncatedUnits},
                      BadInput{"KeyFrameWithoutParameterSets", KeyFrameWithoutParameterSets},
                      BadInput{"Chroma422", Chroma422}, BadInput{"Chroma444", Chroma444},
                      BadInput{"TenBit", TenBit}, BadInput{"SizeChange", LargerPicturesFirst}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

}  // namespace
