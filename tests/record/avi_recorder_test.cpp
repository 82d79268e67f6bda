#include "record/avi_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/record/avi_layout.h"
#include "tests/record/file_size_limit.h"
#include "tests/record/fixture_frames.h"
#include "tests/record/manual_clock.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using avitest::FixtureFrame;

namespace {

// A recorder whose time moves only when the test steps it: every Step is one pass of the
// recorder's loop, with a frame pushed while the recorder sleeps if one is given.
class Lockstep {
 public:
  explicit Lockstep(uint32_t clockStartMs = 1000) : clock(clockStartMs) {
    recorder = CreateRecorder();
    recorder->clock = &clock;
    clock.Watch(&recorder->running);
  }
  ~Lockstep() { Stop(); }

  bool Start(const std::string& path, int32_t codecKind) {
    return StartRecorderThread(recorder.get(), path, codecKind) == 1;
  }
  void Push(const FixtureFrame& frame, int32_t width, int32_t height) {
    recorder->frameQueue->Push(static_cast<int32_t>(frame.payload.size()), frame.payload.data(),
                               frame.keyFlag, 0, width, height);
  }
  bool Ended() const { return recorder->ended.load() != 0; }
  bool Step() {
    return clock.Step({}, [this] { return Ended(); });
  }
  bool Step(const FixtureFrame& frame, int32_t width, int32_t height) {
    return clock.Step([&] { Push(frame, width, height); }, [this] { return Ended(); });
  }
  // Waits for the recorder to settle into its next sleep, then stops it there.
  void Stop() {
    if (!recorder) return;
    clock.WaitAsleep([this] { return Ended(); });
    DestroyRecorder(std::move(recorder));
  }

  avitest::ManualClock clock;
  std::unique_ptr<CAviRecorder> recorder;
};

struct FixtureCase {
  const char* name;
  const char* fixture;
  int32_t codecKind;
  int32_t width;
  int32_t height;
  const char* handler;
  int samplesPerFrame;  // 2: frames at 25 per second; 51: a second without frames between two
  uint32_t clockStartMs;
};

class RecorderFixtures : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(RecorderFixtures, WritesOneSamplePer20MsThatFfmpegReadsAndDecodes) {
  const FixtureCase& c = GetParam();
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames(c.fixture);
  ASSERT_GE(frames.size(), 3u);
  testsupport::TempDir dir;
  const std::string path = dir.File("made/on/demand/out.avi");
  Lockstep run(c.clockStartMs);
  ASSERT_TRUE(run.Start(path, c.codecKind));

  // Without a frame there is neither file nor directory; the thread polls every 100 ms.
  ASSERT_TRUE(run.Step());
  ASSERT_TRUE(run.Step());
  EXPECT_FALSE(fs::exists(dir.File("made")));
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(run.Step(frames[i], c.width, c.height)) << "frame " << i;
    if (i + 1 < frames.size()) {
      for (int gap = 1; gap < c.samplesPerFrame; ++gap) ASSERT_TRUE(run.Step());
    }
  }
  run.Stop();

  const std::vector<uint32_t> sleeps = run.clock.Sleeps();
  const size_t sampleCount = (frames.size() - 1) * c.samplesPerFrame + 1;
  ASSERT_EQ(sleeps.size(), 3 + sampleCount);
  EXPECT_EQ(std::vector<uint32_t>(sleeps.begin(), sleeps.begin() + 3),
            (std::vector<uint32_t>{100, 100, 100}));
  EXPECT_TRUE(std::all_of(sleeps.begin() + 3, sleeps.end(), [](uint32_t ms) { return ms == 20; }))
      << "the pacing sleeps are 20 ms, also across the tick's wrap";

  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  const uint32_t handler = avitest::FourCc(c.handler);
  EXPECT_EQ(avi.fccType, avitest::FourCc("vids"));
  EXPECT_EQ(avi.fccHandler, handler);
  EXPECT_EQ(avi.rate, 50u);
  EXPECT_EQ(avi.scale, 1u);
  EXPECT_EQ(avi.streamBufferSize, static_cast<uint32_t>(c.width * c.height));
  EXPECT_EQ(avi.frameLeft, 0);
  EXPECT_EQ(avi.frameTop, 0);
  EXPECT_EQ(avi.frameRight, c.width);
  EXPECT_EQ(avi.frameBottom, c.height);
  EXPECT_EQ(avi.streamFlags | avi.priority | avi.language | avi.initialFrames | avi.start |
                avi.quality | avi.sampleSize,
            0u);
  ASSERT_EQ(avi.format.size(), 40u);
  EXPECT_EQ(avi.FormatU32(0), 40u);
  EXPECT_EQ(avi.FormatU32(4), static_cast<uint32_t>(c.width));
  EXPECT_EQ(avi.FormatU32(8), static_cast<uint32_t>(c.height));
  EXPECT_EQ(avi.FormatU16(12), 1u);
  EXPECT_EQ(avi.FormatU16(14), 24u);
  EXPECT_EQ(avi.FormatU32(16), handler);
  EXPECT_EQ(std::count(avi.format.begin() + 20, avi.format.end(), 0), 20);
  EXPECT_EQ(avi.width, static_cast<uint32_t>(c.width));
  EXPECT_EQ(avi.height, static_cast<uint32_t>(c.height));
  EXPECT_EQ(avi.totalFrames, sampleCount);

  ASSERT_EQ(avi.Samples().size(), sampleCount);
  for (size_t n = 0; n < sampleCount; ++n) {
    EXPECT_TRUE(avi.Samples()[n].key) << "sample " << n << " is flagged as a key frame";
    if (n % c.samplesPerFrame == 0) {
      EXPECT_EQ(avi.Payload(avi.Samples()[n]), frames[n / c.samplesPerFrame].payload) << n;
    } else {
      EXPECT_EQ(avi.Samples()[n].size, 0u) << "sample " << n << " fills a gap";
    }
  }

  // ffprobe and ffmpeg as independent readers: the stream, its time line and the pictures.
  EXPECT_EQ(avitest::ProbeStream(path, "codec_tag_string"), c.handler);
  EXPECT_EQ(avitest::ProbeStream(path, "time_base"), "1/50");
  EXPECT_EQ(avitest::ProbeStream(path, "width"), std::to_string(c.width));
  int status = -1;
  const std::vector<avitest::ProbedPacket> packets = avitest::ProbePackets(path, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(packets.size(), frames.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].dts, static_cast<int64_t>(i) * c.samplesPerFrame);
    EXPECT_EQ(packets[i].key, frames[i].keyFlag != 0);
  }
  const std::string decodeErrors = avitest::RunCommand(
      "ffmpeg -nostdin -v error -i " + avitest::Quoted(path) + " -f null - 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(decodeErrors, "");
  EXPECT_EQ(avitest::RunCommand("ffprobe -v error -count_frames -select_streams v:0 "
                                "-show_entries stream=nb_read_frames -of default=nw=1:nk=1 " +
                                avitest::Quoted(path)),
            std::to_string(frames.size()) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, RecorderFixtures,
    ::testing::Values(FixtureCase{"H264At25PerSecond", "h264_320x240.h264", AVI_CODEC_H264, 320,
                                  240, "h264", 2, 1000},
                      FixtureCase{"H264EveryFrameASample", "h264_640x480.h264", AVI_CODEC_H264, 640,
                                  480, "h264", 1, 0},
                      FixtureCase{"JpegAcrossTheTickWrap", "jpeg_640x480.h264", AVI_CODEC_JPEG, 640,
                                  480, "mjpg", 10, 0xFFFFFF00u},
                      FixtureCase{"JpegWithASecondOfNothingBetweenFrames", "jpeg_640x480.h264",
                                  AVI_CODEC_JPEG, 640, 480, "mjpg", 51, 5000}),
    [](const ::testing::TestParamInfo<FixtureCase>& info) { return std::string(info.param.name); });

TEST(AviRecorder, ANewPictureSizeEndsTheRecordingWithoutThatFrame) {
  const std::vector<FixtureFrame> small = avitest::LoadFixtureFrames("h264_320x240.h264");
  const std::vector<FixtureFrame> large = avitest::LoadFixtureFrames("h264_640x480.h264");
  testsupport::TempDir dir;
  const std::string path = dir.File("size.avi");
  Lockstep run;
  ASSERT_TRUE(run.Start(path, AVI_CODEC_H264));
  ASSERT_TRUE(run.Step(small[0], 320, 240));
  ASSERT_TRUE(run.Step(small[1], 320, 240));
  ASSERT_TRUE(run.Step(large[0], 640, 480));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return run.Ended(); }));
  const size_t sleepsAtEnd = run.clock.Sleeps().size();

  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  ASSERT_EQ(avi.Samples().size(), 2u);
  EXPECT_EQ(avi.Payload(avi.Samples()[0]), small[0].payload);
  EXPECT_EQ(avi.Payload(avi.Samples()[1]), small[1].payload);
  EXPECT_TRUE(avi.Samples()[1].key) << "every sample is flagged, whatever the frame's own flag";
  EXPECT_EQ(avi.frameRight, 320);
  EXPECT_EQ(avi.FormatU32(4), 320u);
  EXPECT_EQ(run.recorder->samplesWritten, 2);
  EXPECT_EQ(run.recorder->framesWritten, 2);

  // The recorder stays attached but nothing takes frames out any more.
  run.Push(small[2], 320, 240);
  run.Stop();
  EXPECT_EQ(run.clock.Sleeps().size(), sleepsAtEnd);
  EXPECT_EQ(avitest::ReadAviLayout(path).bytes, avi.bytes);
}

TEST(AviRecorder, StoppingDiscardsFramesStillWaiting) {
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("jpeg_640x480.h264");
  testsupport::TempDir dir;
  const std::string path = dir.File("stop.avi");
  Lockstep run;
  ASSERT_TRUE(run.Start(path, AVI_CODEC_JPEG));
  ASSERT_TRUE(run.Step(frames[0], 640, 480));
  ASSERT_TRUE(run.clock.WaitAsleep());
  for (size_t i = 1; i < 5; ++i) run.Push(frames[i], 640, 480);
  run.Stop();
  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  ASSERT_EQ(avi.Samples().size(), 1u);
  EXPECT_EQ(avi.Payload(avi.Samples()[0]), frames[0].payload);
}

TEST(AviRecorder, WithoutAKeyFrameThereIsNoFileAndNoDirectory) {
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("h264_320x240.h264");
  testsupport::TempDir dir;
  Lockstep run;
  ASSERT_TRUE(run.Start(dir.File("a/b/never.avi"), AVI_CODEC_H264));
  for (size_t i = 1; i < 6; ++i) {
    ASSERT_EQ(frames[i].keyFlag, 0u);
    ASSERT_TRUE(run.Step(frames[i], 320, 240));
  }
  run.Stop();
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  const std::vector<uint32_t> sleeps = run.clock.Sleeps();
  EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [](uint32_t ms) { return ms == 100; }));
}

TEST(AviRecorder, AFailedWriteEndsTheRecordingWithACompleteFile) {
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("jpeg_640x480.h264");
  testsupport::TempDir dir;
  const std::string path = dir.File("full.avi");
  Lockstep run;
  {
    avitest::FileSizeLimit limit(70000);
    ASSERT_TRUE(run.Start(path, AVI_CODEC_JPEG));
    for (size_t i = 0; i < frames.size() && run.Step(frames[i], 640, 480); ++i) {
    }
    ASSERT_TRUE(testsupport::WaitUntil([&] { return run.Ended(); }));
  }
  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  const size_t kept = avi.Samples().size();
  ASSERT_GE(kept, 2u);
  ASSERT_LT(kept, frames.size());
  EXPECT_EQ(run.recorder->samplesWritten, static_cast<int32_t>(kept));
  for (size_t i = 0; i < kept; ++i) EXPECT_EQ(avi.Payload(avi.Samples()[i]), frames[i].payload);
  int status = -1;
  EXPECT_EQ(avitest::ProbePackets(path, &status).size(), kept);
  EXPECT_EQ(status, 0);
}

struct PathCase {
  const char* name;
  std::function<std::string(const testsupport::TempDir&)> prepare;  // returns the path
  bool recorded;
};

class RecorderPaths : public ::testing::TestWithParam<PathCase> {};

std::vector<std::string> TreeOf(const std::string& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries.push_back(entry.path().string() + (entry.is_directory() ? "/" : ""));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

TEST_P(RecorderPaths, EndQuietlyOrRecordWithoutLeavingDebris) {
  const PathCase& c = GetParam();
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("jpeg_640x480.h264");
  testsupport::TempDir dir;
  const std::string path = c.prepare(dir);
  const std::vector<std::string> before = TreeOf(dir.Path());
  Lockstep run;
  ASSERT_TRUE(run.Start(path, AVI_CODEC_JPEG));
  ASSERT_TRUE(run.Step(frames[0], 640, 480));
  if (c.recorded) {
    run.Stop();
    const avitest::AviLayout avi = avitest::ReadAviLayout(path);
    ASSERT_EQ(avi.error, "");
    EXPECT_EQ(avi.Samples().size(), 1u);
  } else {
    // The thread ends by itself, before any further sleep.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return run.Ended(); }));
    EXPECT_EQ(run.clock.Sleeps().size(), 1u);
    run.Stop();
    EXPECT_EQ(TreeOf(dir.Path()), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, RecorderPaths,
                         ::testing::Values(PathCase{"ADirectoryInTheWay",
                                                    [](const testsupport::TempDir& d) {
                                                      fs::create_directory(d.File("out.avi"));
                                                      return d.File("out.avi");
                                                    },
                                                    false},
                                           PathCase{"AFileWhereADirectoryShouldBe",
                                                    [](const testsupport::TempDir& d) {
                                                      testsupport::WriteFileBytes(d.File("sub"),
                                                                                  {1});
                                                      return d.File("sub/deeper/out.avi");
                                                    },
                                                    false},
                                           PathCase{"ANameLongerThanTheFileSystemAllows",
                                                    [](const testsupport::TempDir& d) {
                                                      return d.File(std::string(300, 'x') + ".avi");
                                                    },
                                                    false},
                                           // Far past 259 characters, which is no limit here.
                                           PathCase{"ALongPathOfMissingDirectories",
                                                    [](const testsupport::TempDir& d) {
                                                      std::string path = d.Path();
                                                      for (char c = 'a'; c < 'i'; ++c)
                                                        path += "/" + std::string(60, c);
                                                      return path + "/out.avi";
                                                    },
                                                    true}),
                         [](const ::testing::TestParamInfo<PathCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(AviRecorder, StartRecorderThreadRefusesASecondThreadOrAnUnknownCodec) {
  testsupport::TempDir dir;
  Lockstep run;
  EXPECT_EQ(StartRecorderThread(run.recorder.get(), dir.File("x.avi"), 2), 0);
  EXPECT_EQ(StartRecorderThread(run.recorder.get(), dir.File("x.avi"), -1), 0);
  EXPECT_FALSE(run.recorder->thread.joinable());
  EXPECT_EQ(run.recorder->running.load(), 0);
  EXPECT_EQ(StartRecorderThread(run.recorder.get(), dir.File("x.avi"), AVI_CODEC_H264), 1);
  EXPECT_EQ(StartRecorderThread(run.recorder.get(), dir.File("y.avi"), AVI_CODEC_JPEG), 0);
  EXPECT_EQ(run.recorder->path, dir.File("x.avi"));
  EXPECT_EQ(run.recorder->codecKind, AVI_CODEC_H264);
}

}  // namespace
