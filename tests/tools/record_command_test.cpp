#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/record/avi_layout.h"
#include "tests/record/fixture_frames.h"
#include "tests/support/test_support.h"

namespace {

using ToolResult = testsupport::CommandResult;

ToolResult RunRecord(std::vector<std::string> args) {
  args.insert(args.begin(), "record");
  return testsupport::RunCommand(testsupport::BuiltProgram("tools/quendrel-tool"), args);
}

long long Field(const std::string& out, const std::string& name) {
  const size_t at = out.find(name + ":");
  return at == std::string::npos ? -1 : std::atoll(out.c_str() + at + name.size() + 1);
}

struct RecordCase {
  const char* fixture;
  bool fast;
  const char* handler;
};

class RecordCommand : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordCommand, RecordsEveryFrameUpToTheLastPicture) {
  const RecordCase& c = GetParam();
  const std::vector<avitest::FixtureFrame> frames = avitest::LoadFixtureFrames(c.fixture);
  testsupport::TempDir dir;
  const std::string out = dir.File("clips/out.avi");
  std::vector<std::string> args{testsupport::SourcePath(std::string("tests/data/") + c.fixture),
                                out};
  if (c.fast) args.push_back("--fast");
  const ToolResult run = RunRecord(args);
  ASSERT_EQ(run.status, 0) << run.err;

  const avitest::AviLayout avi = avitest::ReadAviLayout(out);
  ASSERT_EQ(avi.error, "");
  EXPECT_EQ(avi.fccHandler, avitest::FourCc(c.handler));
  EXPECT_EQ(Field(run.out, "samples"), static_cast<long long>(avi.Samples().size()));
  EXPECT_EQ(Field(run.out, "bytes"), static_cast<long long>(avi.bytes.size()));
  // The recording ends only after it has written the last frame drawn.
  std::vector<std::vector<uint8_t>> recorded;
  for (const avitest::Sample& sample : avi.Samples()) {
    if (sample.size > 0) recorded.push_back(avi.Payload(sample));
  }
  EXPECT_EQ(Field(run.out, "frames"), static_cast<long long>(recorded.size()));
  ASSERT_EQ(recorded.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(recorded[i], frames[i].payload) << i;
  int status = -1;
  EXPECT_EQ(avitest::RunCommand(
                "ffmpeg -nostdin -v error -i " + avitest::Quoted(out) + " -f null - 2>&1", &status),
            "");
  EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RecordCommand,
                         ::testing::Values(RecordCase{"h264_320x240.h264", false, "h264"},
                                           RecordCase{"h264_640x480.h264", true, "h264"},
                                           RecordCase{"jpeg_640x480.h264", true, "mjpg"}),
                         [](const ::testing::TestParamInfo<RecordCase>& info) {
                           std::string name = info.param.fixture;
                           name = name.substr(0, name.find('.'));
                           return name + (info.param.fast ? "_fast" : "_paced");
                         });

TEST(RecordCommandErrors, FailuresAreReportedAndLeaveNoFile) {
  testsupport::TempDir dir;
  const std::string fixture = testsupport::SourcePath("tests/data/jpeg_640x480.h264");
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("junk.h264"), std::vector<uint8_t>(500, 7)));
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("in-the-way"), {1}));
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{}, 2},
      {{fixture}, 2},
      {{fixture, dir.File("a.avi"), "--slow"}, 2},
      {{dir.File("missing.h264"), dir.File("b.avi")}, 2},
      {{dir.File("junk.h264"), dir.File("c.avi")}, 1},
      {{fixture, dir.File("in-the-way/d.avi")}, 1},
  };
  for (const Case& c : cases) {
    const ToolResult run = RunRecord(c.args);
    EXPECT_EQ(run.status, c.status) << (c.args.empty() ? "" : c.args.back());
    EXPECT_NE(run.err, "");
    EXPECT_EQ(run.out, "");
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    left.push_back(entry.path().filename());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"in-the-way", "junk.h264"}));
}

}  // namespace
