#include "platform/avi_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "tests/record/avi_layout.h"
#include "tests/record/file_size_limit.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

struct WrittenSample {
  std::vector<uint8_t> bytes;
  uint32_t flags = AVIIF_KEYFRAME;
};

AviStreamInfo VideoInfo(int32_t width, int32_t height) {
  AviStreamInfo info;
  info.fccType = MakeFourCc("vids");
  info.fccHandler =
      MakeFourCc("qtst");  // a code no reader decodes: the index alone says what is a key frame
  info.dwScale = 1;
  info.dwRate = 50;
  info.dwSuggestedBufferSize = static_cast<uint32_t>(width * height);
  info.rcFrame.right = width;
  info.rcFrame.bottom = height;
  return info;
}

std::vector<uint8_t> BitmapHeader(int32_t width, int32_t height) {
  std::vector<uint8_t> f(40, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40);
  put(4, static_cast<uint32_t>(width));
  put(8, static_cast<uint32_t>(height));
  f[12] = 1;
  f[14] = 24;
  put(16, MakeFourCc("qtst"));
  return f;
}

// Bytes that differ from sample to sample and from place to place, so a misplaced or cut
// sample shows.
std::vector<uint8_t> Pattern(uint32_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

struct OpenAvi {
  std::unique_ptr<AviFile> file;
  std::unique_ptr<AviStream> stream;
  int result = -1;  // of the first call that failed, or 0
};

OpenAvi Open(const std::string& path, uint64_t riffLimit, int32_t width = 64, int32_t height = 48) {
  OpenAvi avi;
  AviWriterOptions options;
  options.riffLimitBytes = riffLimit;
  avi.result = AviFileOpen(&avi.file, path, OF_CREATE | OF_WRITE, options);
  if (avi.result != 0) return avi;
  avi.result = AviFileCreateStream(avi.file.get(), &avi.stream, VideoInfo(width, height));
  if (avi.result != 0) return avi;
  const std::vector<uint8_t> format = BitmapHeader(width, height);
  avi.result =
      AviStreamSetFormat(avi.stream.get(), 0, format.data(), static_cast<int32_t>(format.size()));
  return avi;
}

int WriteSample(OpenAvi& avi, int32_t n, const WrittenSample& sample) {
  return AviStreamWrite(avi.stream.get(), n, 1,
                        sample.bytes.empty() ? nullptr : sample.bytes.data(),
                        static_cast<int32_t>(sample.bytes.size()), sample.flags, nullptr, nullptr);
}

// Everything a reader must find for the samples given, whatever the layout.
void ExpectFileHolds(const std::string& path, const std::vector<WrittenSample>& samples) {
  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  ASSERT_EQ(avi.Samples().size(), samples.size());
  EXPECT_EQ(avi.moviChunks.size(), samples.size()) << "a chunk on disk that no index names";
  uint32_t largest = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    const avitest::Sample& s = avi.Samples()[i];
    ASSERT_EQ(avi.Payload(s), samples[i].bytes) << "sample " << i;
    EXPECT_EQ(s.key, (samples[i].flags & AVIIF_KEYFRAME) != 0) << "sample " << i;
    EXPECT_EQ(s.offset, avi.moviChunks[i].offset) << "samples out of file order at " << i;
    largest = std::max<uint32_t>(largest, static_cast<uint32_t>(samples[i].bytes.size()));
  }
  // The first RIFF keeps an idx1 of its own samples for readers without OpenDML.
  ASSERT_TRUE(avi.hasIdx1);
  ASSERT_LE(avi.idx1.size(), avi.Samples().size());
  for (size_t i = 0; i < avi.idx1.size(); ++i) {
    EXPECT_EQ(avi.idx1[i].offset, avi.Samples()[i].offset);
    EXPECT_EQ(avi.idx1[i].key, avi.Samples()[i].key);
  }
  EXPECT_EQ(avi.totalFrames, avi.idx1.size());
  EXPECT_EQ(avi.length, samples.size());
  EXPECT_EQ(avi.hasDmlh, avi.riffCount > 1);
  if (avi.hasDmlh) {
    EXPECT_EQ(avi.dmlhTotalFrames, samples.size());
  }
  EXPECT_EQ(avi.hasSuperIndex, avi.riffCount > 1);
  EXPECT_EQ(avi.flags & 0x10, 0x10u) << "AVIF_HASINDEX";
  EXPECT_EQ(avi.streams, 1u);
  EXPECT_EQ(avi.microSecPerFrame, 20000u);
  EXPECT_GE(avi.streamBufferSize, largest);
  EXPECT_GE(avi.suggestedBufferSize, largest);
  std::map<size_t, uint32_t> bytesPerSecond;
  uint32_t maxPerSecond = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    maxPerSecond = std::max(maxPerSecond, bytesPerSecond[i / 50] += samples[i].bytes.size());
  }
  EXPECT_GE(avi.maxBytesPerSec, maxPerSecond);

  // ffprobe, an independent reader, skips empty samples but counts them in the time line.
  int status = -1;
  const std::vector<avitest::ProbedPacket> packets = avitest::ProbePackets(path, &status);
  ASSERT_EQ(status, 0);
  std::vector<avitest::ProbedPacket> expected;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (samples[i].bytes.empty()) continue;
    expected.push_back(avitest::ProbedPacket{static_cast<int64_t>(i),
                                             static_cast<uint32_t>(samples[i].bytes.size()),
                                             (samples[i].flags & AVIIF_KEYFRAME) != 0});
  }
  ASSERT_EQ(packets.size(), expected.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].dts, expected[i].dts) << "packet " << i;
    EXPECT_EQ(packets[i].size, expected[i].size) << "packet " << i;
    EXPECT_EQ(packets[i].key, expected[i].key) << "packet " << i;
  }
  EXPECT_EQ(avitest::ProbeStream(path, "nb_frames"), std::to_string(samples.size()));
}

struct LayoutCase {
  const char* name;
  uint64_t riffLimit;
  uint32_t count;
  std::function<WrittenSample(uint32_t)> make;
  uint32_t minRiffs;
};

class AviWriterLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(AviWriterLayout, EveryReaderFindsEverySampleInOrder) {
  const LayoutCase& c = GetParam();
  testsupport::TempDir dir;
  const std::string path = dir.File("out.avi");
  std::vector<WrittenSample> samples;
  {
    OpenAvi avi = Open(path, c.riffLimit);
    ASSERT_EQ(avi.result, 0);
    for (uint32_t i = 0; i < c.count; ++i) {
      samples.push_back(c.make(i));
      ASSERT_EQ(WriteSample(avi, static_cast<int32_t>(i), samples.back()), 0) << "sample " << i;
    }
  }
  ExpectFileHolds(path, samples);
  EXPECT_GE(avitest::ReadAviLayout(path).riffCount, c.minRiffs);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AviWriterLayout,
    ::testing::Values(
        // Odd sizes need a pad byte; empty samples are chunks of length 0.
        LayoutCase{"PlainWithOddAndEmptySamples", uint64_t{1} << 30, 120,
                   [](uint32_t i) {
                     return WrittenSample{
                         i % 4 == 3 ? std::vector<uint8_t>{} : Pattern(100 + 37 * (i % 9), i),
                         AVIIF_KEYFRAME};
                   },
                   1},
        LayoutCase{"OnlyEmptySamples", uint64_t{1} << 30, 60,
                   [](uint32_t) {
                     return WrittenSample{{}, AVIIF_KEYFRAME};
                   },
                   1},
        LayoutCase{"KeyAndOtherFramesAcrossRiffLists", 8192, 300,
                   [](uint32_t i) {
                     return WrittenSample{Pattern(i % 5 == 4 ? 0 : 301 + i % 3, i),
                                          i % 6 == 0 ? AVIIF_KEYFRAME : 0u};
                   },
                   10},
        // A sample bigger than a whole RIFF list still gets a list of its own.
        LayoutCase{"SamplesLargerThanTheRiffLimit", 4096, 12,
                   [](uint32_t i) {
                     return WrittenSample{Pattern(i % 3 == 1 ? 9001 : 500, i), AVIIF_KEYFRAME};
                   },
                   4}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(AviWriter, StreamHeaderAndFormatAreKeptAsGiven) {
  testsupport::TempDir dir;
  const std::string path = dir.File("header.avi");
  AviStreamInfo info;
  info.fccType = MakeFourCc("vids");
  info.fccHandler = MakeFourCc("h264");
  info.dwFlags = 3;
  info.wPriority = 4;
  info.wLanguage = 5;
  info.dwInitialFrames = 6;
  info.dwScale = 2;
  info.dwRate = 50;
  info.dwStart = 7;
  info.dwSuggestedBufferSize = 100000;
  info.dwQuality = 8;
  info.dwSampleSize = 0;
  info.rcFrame = AviRect{1, 2, 321, 242};
  // An odd-sized format is padded on disk but read back at its own size.
  std::vector<uint8_t> format = Pattern(41, 9);
  {
    std::unique_ptr<AviFile> file;
    std::unique_ptr<AviStream> stream;
    ASSERT_EQ(AviFileOpen(&file, path, OF_CREATE | OF_WRITE), 0);
    ASSERT_EQ(AviFileCreateStream(file.get(), &stream, info), 0);
    ASSERT_EQ(AviStreamSetFormat(stream.get(), 0, format.data(), 41), 0);
    for (int32_t n = 0; n < 3; ++n) {
      ASSERT_EQ(
          AviStreamWrite(stream.get(), n, 1, format.data(), 10, AVIIF_KEYFRAME, nullptr, nullptr),
          0);
    }
    // The stream outlives the file handle here: the file is completed by the last release.
    file.reset();
    EXPECT_NE(avitest::ReadAviLayout(path).error, "");
  }
  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  EXPECT_EQ(avi.fccType, MakeFourCc("vids"));
  EXPECT_EQ(avi.fccHandler, MakeFourCc("h264"));
  EXPECT_EQ(avi.streamFlags, 3u);
  EXPECT_EQ(avi.priority, 4);
  EXPECT_EQ(avi.language, 5);
  EXPECT_EQ(avi.initialFrames, 6u);
  EXPECT_EQ(avi.scale, 2u);
  EXPECT_EQ(avi.rate, 50u);
  EXPECT_EQ(avi.start, 7u);
  EXPECT_EQ(avi.length, 3u);
  EXPECT_EQ(avi.streamBufferSize, 100000u);
  EXPECT_EQ(avi.quality, 8u);
  EXPECT_EQ(avi.sampleSize, 0u);
  EXPECT_EQ(avi.frameLeft, 1);
  EXPECT_EQ(avi.frameTop, 2);
  EXPECT_EQ(avi.frameRight, 321);
  EXPECT_EQ(avi.frameBottom, 242);
  EXPECT_EQ(avi.format, format);
  EXPECT_EQ(avi.microSecPerFrame, 40000u);
  EXPECT_EQ(avi.width, 320u);
  EXPECT_EQ(avi.height, 240u);
  EXPECT_EQ(avi.totalFrames, 3u);
}

TEST(AviWriter, ReplacesAnExistingFileWhole) {
  testsupport::TempDir dir;
  const std::string path = dir.File("old.avi");
  ASSERT_TRUE(testsupport::WriteFileBytes(path, Pattern(200000, 1)));
  std::vector<WrittenSample> samples{{Pattern(10, 2), AVIIF_KEYFRAME}};
  {
    OpenAvi avi = Open(path, uint64_t{1} << 30);
    ASSERT_EQ(avi.result, 0);
    ASSERT_EQ(WriteSample(avi, 0, samples[0]), 0);
  }
  ExpectFileHolds(path, samples);
  EXPECT_LT(fs::file_size(path), 10000u);
}

TEST(AviWriter, RefusesCallsOutOfOrderAndKeepsTheFileSound) {
  testsupport::TempDir dir;
  const std::string path = dir.File("refused.avi");
  std::vector<WrittenSample> samples{{Pattern(20, 1), AVIIF_KEYFRAME},
                                     {Pattern(21, 2), AVIIF_KEYFRAME}};
  {
    std::unique_ptr<AviFile> file;
    std::unique_ptr<AviStream> stream;
    EXPECT_NE(AviFileOpen(&file, path, OF_WRITE), 0) << "a writer must be asked to create";
    EXPECT_FALSE(file);
    ASSERT_EQ(AviFileOpen(&file, path, OF_CREATE | OF_WRITE), 0);
    AviStreamInfo audio = VideoInfo(8, 8);
    audio.fccType = MakeFourCc("auds");
    EXPECT_NE(AviFileCreateStream(file.get(), &stream, audio), 0);
    AviStreamInfo noRate = VideoInfo(8, 8);
    noRate.dwRate = 0;
    EXPECT_NE(AviFileCreateStream(file.get(), &stream, noRate), 0);
    EXPECT_FALSE(stream);
    ASSERT_EQ(AviFileCreateStream(file.get(), &stream, VideoInfo(8, 8)), 0);
    std::unique_ptr<AviStream> second;
    EXPECT_NE(AviFileCreateStream(file.get(), &second, VideoInfo(8, 8)), 0);
    EXPECT_NE(AviStreamWrite(stream.get(), 0, 1, samples[0].bytes.data(), 20, AVIIF_KEYFRAME,
                             nullptr, nullptr),
              0)
        << "a sample before the format";
    const std::vector<uint8_t> format = BitmapHeader(8, 8);
    EXPECT_NE(AviStreamSetFormat(stream.get(), 1, format.data(), 40), 0);
    ASSERT_EQ(AviStreamSetFormat(stream.get(), 0, format.data(), 40), 0);
    EXPECT_NE(AviStreamSetFormat(stream.get(), 0, format.data(), 40), 0);

    int32_t writtenSamples = -1, writtenBytes = -1;
    ASSERT_EQ(AviStreamWrite(stream.get(), 0, 1, samples[0].bytes.data(), 20, AVIIF_KEYFRAME,
                             &writtenSamples, &writtenBytes),
              0);
    EXPECT_EQ(writtenSamples, 1);
    EXPECT_EQ(writtenBytes, 20);
    const uint8_t* data = samples[1].bytes.data();
    EXPECT_NE(AviStreamWrite(stream.get(), 0, 1, data, 21, AVIIF_KEYFRAME, nullptr, nullptr), 0);
    EXPECT_NE(AviStreamWrite(stream.get(), 2, 1, data, 21, AVIIF_KEYFRAME, nullptr, nullptr), 0);
    EXPECT_NE(AviStreamWrite(stream.get(), 1, 2, data, 21, AVIIF_KEYFRAME, nullptr, nullptr), 0);
    EXPECT_NE(AviStreamWrite(stream.get(), 1, 1, data, -1, AVIIF_KEYFRAME, nullptr, nullptr), 0);
    EXPECT_NE(AviStreamWrite(stream.get(), 1, 1, nullptr, 21, AVIIF_KEYFRAME, nullptr, nullptr), 0);
    ASSERT_EQ(AviStreamWrite(stream.get(), 1, 1, data, 21, AVIIF_KEYFRAME, nullptr, nullptr), 0);
  }
  ExpectFileHolds(path, samples);
}

TEST(AviWriter, FailedOpenLeavesNothingBehind) {
  testsupport::TempDir dir;
  fs::create_directory(dir.File("adir"));
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("afile"), {1, 2, 3}));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const std::string paths[] = {
      dir.File("missing/out.avi"),      // a directory that does not exist
      dir.File("adir"),                 // a directory in the way
      dir.File("afile/out.avi"),        // a file where a directory should be
      dir.File(std::string(300, 'n')),  // a name longer than the file system allows
      dir.File("fifo"),                 // no reader: must fail at once, not wait
  };
  for (const std::string& path : paths) {
    std::unique_ptr<AviFile> file;
    EXPECT_NE(AviFileOpen(&file, path, OF_CREATE | OF_WRITE), 0) << path;
    EXPECT_FALSE(file) << path;
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"adir", "afile", "fifo"}));
  EXPECT_TRUE(fs::is_empty(dir.File("adir")));
  EXPECT_EQ(testsupport::ReadFileBytes(dir.File("afile")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(AviWriter, AFileReleasedBeforeItHasAFormatIsRemoved) {
  testsupport::TempDir dir;
  for (bool withStream : {false, true}) {
    const std::string path = dir.File(withStream ? "stream.avi" : "bare.avi");
    std::unique_ptr<AviFile> file;
    std::unique_ptr<AviStream> stream;
    ASSERT_EQ(AviFileOpen(&file, path, OF_CREATE | OF_WRITE), 0);
    if (withStream) {
      ASSERT_EQ(AviFileCreateStream(file.get(), &stream, VideoInfo(8, 8)), 0);
    }
    EXPECT_TRUE(fs::exists(path));
    stream.reset();
    file.reset();
    EXPECT_FALSE(fs::exists(path)) << path;
  }
}

TEST(AviWriter, StopsCleanlyWhenTheSuperindexIsFull) {
  testsupport::TempDir dir;
  const std::string path = dir.File("full.avi");
  std::vector<WrittenSample> samples;
  {
    // Each 3000-byte sample fills a 4 KiB RIFF list, so every sample needs a list of its own.
    OpenAvi avi = Open(path, 4096);
    ASSERT_EQ(avi.result, 0);
    for (int32_t n = 0;; ++n) {
      WrittenSample sample{Pattern(3000, n), AVIIF_KEYFRAME};
      if (WriteSample(avi, n, sample) != 0) break;
      samples.push_back(sample);
      ASSERT_LT(n, 10000);
    }
  }
  EXPECT_EQ(avitest::ReadAviLayout(path).riffCount, 256u);
  ExpectFileHolds(path, samples);
}

struct FullDiskCase {
  const char* name;
  uint64_t riffLimit;
  rlim_t diskBytes;
  uint32_t sampleBytes;
};

class AviWriterFullDisk : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(AviWriterFullDisk, KeepsAValidFileOfTheSamplesWhollyOnDisk) {
  const FullDiskCase& c = GetParam();
  testsupport::TempDir dir;
  const std::string path = dir.File("full.avi");
  std::vector<WrittenSample> written;
  bool failed = false;
  {
    avitest::FileSizeLimit limit(c.diskBytes);
    OpenAvi avi = Open(path, c.riffLimit);
    ASSERT_EQ(avi.result, 0);
    for (int32_t n = 0; n < 100000; ++n) {
      // Every fourth sample is empty, as when frames come slower than samples.
      WrittenSample sample{n % 4 == 3 ? std::vector<uint8_t>{} : Pattern(c.sampleBytes, n),
                           AVIIF_KEYFRAME};
      if (WriteSample(avi, n, sample) != 0) {
        failed = true;
        // Once a write has failed nothing more goes in, not even a sample that would fit.
        EXPECT_NE(WriteSample(avi, n, WrittenSample{{}, AVIIF_KEYFRAME}), 0);
        break;
      }
      written.push_back(sample);
    }
  }
  ASSERT_TRUE(failed);
  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  const size_t kept = avi.Samples().size();
  ASSERT_LE(kept, written.size());
  // The index needs room too, so a few of the last samples may give way to it, never more
  // than its own size could explain.
  const size_t given = written.size() - kept;
  EXPECT_LE(given * (c.sampleBytes * 3 / 4 + 8), 16 * written.size() + 8 * written.size() + 64)
      << "kept " << kept << " of " << written.size();
  EXPECT_GT(kept, 0u);
  written.resize(kept);
  ExpectFileHolds(path, written);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, AviWriterFullDisk,
    ::testing::Values(FullDiskCase{"InTheFirstRiff", uint64_t{1} << 30, 60000, 999},
                      FullDiskCase{"WithLargeSamples", uint64_t{1} << 30, 300000, 40001},
                      FullDiskCase{"InALaterRiff", 16384, 60000, 501},
                      FullDiskCase{"WithTinySamples", 8192, 50000, 3}),
    [](const ::testing::TestParamInfo<FullDiskCase>& info) {
      return std::string(info.param.name);
    });

TEST(AviWriter, ADiskTooFullForTheHeadersLeavesNoFile) {
  testsupport::TempDir dir;
  const std::string path = dir.File("none.avi");
  {
    avitest::FileSizeLimit limit(1000);
    OpenAvi avi = Open(path, uint64_t{1} << 30);
    EXPECT_EQ(avi.result, AVIERR_FILEWRITE);
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
