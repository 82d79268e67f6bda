#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/input/reader_fakes.h"
#include "tests/support/test_support.h"

namespace {

using readerfakes::RecordingBuilder;

std::string ToolPath() {
  return testsupport::BuiltProgram("tools/quendrel-tool");
}

using ToolRun = testsupport::CommandResult;

ToolRun RunTool(const std::vector<std::string>& args) {
  return testsupport::RunCommand(ToolPath(), args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class QuendrelTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::filesystem::exists(ToolPath())) << "build quendrel-tool first";
  }
};

// N0 [0,36) gated  K1 [36,78)  N2 [78,113)  junk [113,148)  K3 [148,180)  N4 [180,217)
std::string WriteWalkFile(const testsupport::TempDir& dir) {
  RecordingBuilder file;
  file.Frame(FRAME_H264_NONKEY, 100, 100, 4);
  file.Frame(FRAME_H264_KEY, 100, 500, 10);
  file.Frame(FRAME_H264_NONKEY, 100, 540, 3);
  file.Raw(std::vector<uint8_t>(35, 0x11));
  file.Frame(FRAME_H264_KEY, 101, 20, 0);
  file.Frame(FRAME_H264_NONKEY, 103, 20, 5);
  EXPECT_EQ(file.Size(), 217);
  const std::string path = dir.File("walk.h264");
  EXPECT_TRUE(testsupport::WriteFileBytes(path, file.bytes));
  return path;
}

const char kHeaderLine[] = "offset\ttype\tlength\tseconds\tms\ttimestamp\twait_ms\n";

struct FramesCase {
  const char* name;
  std::vector<std::string> options;
  std::string lines;  // after the header line
};

void PrintTo(const FramesCase& c, std::ostream* os) {
  *os << c.name;
}

class ToolFrames : public QuendrelTool, public ::testing::WithParamInterface<FramesCase> {};

TEST_P(ToolFrames, PrintsExactlyTheFramesTheReaderHandsOn) {
  testsupport::TempDir dir;
  std::vector<std::string> args = {"frames", WriteWalkFile(dir)};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  const ToolRun run = RunTool(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kHeaderLine + GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ToolFrames,
    ::testing::Values(FramesCase{"plain",
                                 {},
                                 "36\t0\t10\t100\t500\t100\t0\n"
                                 "78\t1\t3\t100\t540\t100\t40\n"
                                 "148\t0\t0\t101\t20\t101\t480\n"
                                 "180\t1\t5\t103\t20\t103\t200\n"},
                      FramesCase{"fast",
                                 {"--fast"},
                                 "36\t0\t10\t100\t500\t100\t50\n"
                                 "78\t1\t3\t100\t540\t100\t50\n"
                                 "148\t0\t0\t101\t20\t101\t50\n"
                                 "180\t1\t5\t103\t20\t103\t50\n"},
                      FramesCase{"fromInsideTheJunk",
                                 {"--from", "100"},
                                 "148\t0\t0\t101\t20\t101\t0\n"
                                 "180\t1\t5\t103\t20\t103\t200\n"},
                      // Before any key frame the gate still holds back the leading non-key frame.
                      FramesCase{"fromZero",
                                 {"--from", "0"},
                                 "36\t0\t10\t100\t500\t100\t0\n"
                                 "78\t1\t3\t100\t540\t100\t40\n"
                                 "148\t0\t0\t101\t20\t101\t480\n"
                                 "180\t1\t5\t103\t20\t103\t200\n"},
                      FramesCase{"fromPastTheLastKeyFrame", {"--from", "181"}, ""}),
    [](const ::testing::TestParamInfo<FramesCase>& info) { return info.param.name; });

TEST_F(QuendrelTool, FramesOfAJpegRecordingWaitAfterwardsAndCountSeconds) {
  testsupport::TempDir dir;
  RecordingBuilder file;
  for (uint32_t i = 0; i < 6; ++i) file.Frame(FRAME_JPEG, 7000 + i * 9, 0, 2);
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("j.h264"), file.bytes));
  const ToolRun run = RunTool({"frames", dir.File("j.h264"), "--fast"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 7u);
  for (size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const std::string timestamp = i <= 5 ? "7000" : "7001";
    EXPECT_NE(lines[i].find("\t" + timestamp + "\t50"), std::string::npos);
  }
}

TEST_F(QuendrelTool, SeekPrintsWhereReadingResumes) {
  testsupport::TempDir dir;
  const std::string path = WriteWalkFile(dir);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-3", "0"},   {"0", "0"},     {"1", "36"},   {"78", "36"},
      {"79", "148"}, {"180", "148"}, {"181", "-1"}, {"99999999999", "-1"}};
  for (const auto& [target, landing] : cases) {
    SCOPED_TRACE(target);
    const ToolRun run = RunTool({"seek", path, target});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, landing + "\n");
  }
}

TEST_F(QuendrelTool, InfoSummarisesPlayerFramesDamageAndEnd) {
  testsupport::TempDir dir;
  RecordingBuilder file;
  for (int i = 0; i < 3; ++i)
    file.Frame(FRAME_H264_KEY, 100, static_cast<uint16_t>(100 + i * 40), 8);
  file.Raw(std::vector<uint8_t>(50, 0x11));
  file.Frame(FRAME_H264_NONKEY, 101, 500, 8);
  file.Raw(std::vector<uint8_t>(20, 0x22));  // too short for a header
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("i.h264"), file.bytes));
  const ToolRun run = RunTool({"info", dir.File("i.h264")});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string& expected :
       {"length:           " + std::to_string(file.Size()) + " bytes",
        std::string("player:           H.264"), std::string("frames handed on: 4"),
        std::string("key frames:       3"), std::string("duration:         1.400 s"),
        std::string("skipped:          50 bytes in 1 place"), std::string("50 bytes at 120"),
        std::string("ends:             cut short")}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
  }
}

TEST_F(QuendrelTool, AFileThatCannotBeOpenedIsAnErrorWithNothingOnStdout) {
  testsupport::TempDir dir;
  const std::string missing = dir.File("missing.h264");
  for (const std::string command : {"frames", "seek", "info", "render"}) {
    for (const std::string& path : {missing, dir.Path()}) {
      SCOPED_TRACE(command + " " + path);
      std::vector<std::string> args = {command, path};
      if (command == "seek") args.push_back("10");
      if (command == "render") args.push_back(dir.File("out"));
      const ToolRun run = RunTool(args);
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_NE(run.err.find(path + ": "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(path == missing ? "No such file" : "is a directory"),
                std::string::npos)
          << run.err;
    }
  }
}

TEST_F(QuendrelTool, BadArgumentsAreUsageErrorsAndHelpIsThere) {
  testsupport::TempDir dir;
  const std::string path = WriteWalkFile(dir);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"frames"},
                                               {"frames", path, "--from"},
                                               {"frames", path, "--from", "12x"},
                                               {"frames", path, "--slow"},
                                               {"seek", path},
                                               {"seek", path, "ten"},
                                               {"info"},
                                               {"render", path},
                                               {"render", path, "o", "--depth", "8"},
                                               {"render", path, "o", "--size", "0x10"},
                                               {"nonsense"},
                                               {}}) {
    std::string joined;
    for (const std::string& arg : args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage"), std::string::npos) << run.err;
  }
  for (const std::string command : {"frames", "seek", "info", "render"}) {
    const ToolRun run = RunTool({command, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: quendrel-tool " + command, 0), 0u) << run.out;
  }
  const ToolRun overall = RunTool({"--help"});
  EXPECT_EQ(overall.status, 0);
  EXPECT_NE(overall.out.find("render"), std::string::npos);
}

// ---- render --------------------------------------------------------------------------------

TEST_F(QuendrelTool, RenderDrawsEveryH264FrameInEachDisplayLayout) {
  // The fixture twice over: 24 frames, so a key frame comes after more than ten others, as
  // the queue's flush rule needs to drop frames when the reader runs ahead of the decoder.
  testsupport::TempDir dir;
  const auto once =
      testsupport::ReadFileBytes(testsupport::SourcePath("tests/data/h264_320x240.h264"));
  ASSERT_FALSE(once.empty());
  std::vector<uint8_t> bytes = once;
  bytes.insert(bytes.end(), once.begin(), once.end());
  const std::string fixture = dir.File("twice.h264");
  ASSERT_TRUE(testsupport::WriteFileBytes(fixture, bytes));
  const ToolRun frames = RunTool({"frames", fixture});
  ASSERT_EQ(frames.status, 0);
  const size_t handedOn = Lines(frames.out).size() - 1;
  ASSERT_EQ(handedOn, 24u);

  for (const auto& [depth, bytesPerPixel] :
       std::vector<std::pair<std::string, size_t>>{{"15", 2}, {"16", 2}, {"24", 3}, {"32", 4}}) {
    SCOPED_TRACE(depth);
    const std::string out = dir.File("d" + depth);
    const ToolRun run = RunTool({"render", fixture, out, "--depth", depth});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), handedOn);
    for (size_t i = 0; i < lines.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/%06zu.raw", i);
      EXPECT_EQ(lines[i], std::to_string(i) + "\t320\t240\t1773480413");
      EXPECT_EQ(testsupport::ReadFileBytes(out + name).size(), 320u * 240u * bytesPerPixel);
    }
  }
}

TEST_F(QuendrelTool, RenderOverlaysTheCaptureTimeOnlyAtTheTopLeftAndPngMatchesRaw) {
  const std::string fixture = testsupport::SourcePath("tests/data/h264_320x240.h264");
  testsupport::TempDir dir;
  ASSERT_EQ(RunTool({"render", fixture, dir.File("osd")}).status, 0);
  ASSERT_EQ(RunTool({"render", fixture, dir.File("plain"), "--no-osd"}).status, 0);
  ASSERT_EQ(RunTool({"render", fixture, dir.File("png"), "--png"}).status, 0);

  const auto osd = testsupport::ReadFileBytes(dir.File("osd/000003.raw"));
  const auto plain = testsupport::ReadFileBytes(dir.File("plain/000003.raw"));
  ASSERT_EQ(osd.size(), 320u * 240u * 4u);
  ASSERT_EQ(plain.size(), osd.size());
  // The text is drawn from (10, 10) and is 20 pixels high: it changes pixels there and
  // nowhere below row 40.
  size_t changedInside = 0;
  size_t changedOutside = 0;
  for (size_t y = 0; y < 240; ++y) {
    for (size_t x = 0; x < 320; ++x) {
      const size_t at = (y * 320 + x) * 4;
      const bool same = std::equal(osd.begin() + at, osd.begin() + at + 4, plain.begin() + at);
      if (same) continue;
      if (y < 40) {
        ++changedInside;
      } else {
        ++changedOutside;
      }
    }
  }
  EXPECT_GT(changedInside, 200u);
  EXPECT_EQ(changedOutside, 0u);

  QImage png(QString::fromStdString(dir.File("png/000003.png")));
  ASSERT_EQ(png.width(), 320);
  ASSERT_EQ(png.height(), 240);
  png = png.convertToFormat(QImage::Format_RGB32);
  size_t differing = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      const size_t at = (static_cast<size_t>(y) * 320 + x) * 4;
      const uint32_t raw = osd[at] | (osd[at + 1] << 8) | (osd[at + 2] << 16);
      if ((png.pixel(x, y) & 0xFFFFFFu) != raw) ++differing;
    }
  }
  EXPECT_EQ(differing, 0u);
}

TEST_F(QuendrelTool, RenderWritesEveryJpegPictureAtTheClientSize) {
  const std::string fixture = testsupport::SourcePath("tests/data/jpeg_640x480.h264");
  testsupport::TempDir dir;
  const ToolRun run = RunTool({"render", fixture, dir.Path(), "--size", "200x150"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 10u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string timestamp = i < 5 ? "1773480413" : "1773480414";
    EXPECT_EQ(lines[i], std::to_string(i) + "\t200\t150\t" + timestamp);
    char name[32];
    std::snprintf(name, sizeof name, "/%06zu.png", i);
    QImage png(QString::fromStdString(dir.Path() + name));
    EXPECT_EQ(png.width(), 200);
    EXPECT_EQ(png.height(), 150);
  }
}

}  // namespace
