#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "player/video_player.h"
#include "record/avi_recorder.h"
#include "tests/record/avi_layout.h"
#include "tests/record/fixture_frames.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using avitest::FixtureFrame;

namespace {

// A player that decodes nothing: its loop hands every frame it pops to the recording, with a
// picture size the test sets, as the real players do for the frames they present.
class HandingPlayer : public CVideoPlayer {
 public:
  explicit HandingPlayer(int32_t codecKind) : CVideoPlayer(nullptr), codecKind(codecKind) {}
  ~HandingPlayer() override { StopDecodeThread(); }

  void DecodeLoop() override {
    while (running.load() != 0) {
      FrameItem item;
      if (!frameQueue->Pop(&item)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      RecordFrame(item.data.get(), item.length, item.keyFlag, width.load(), height.load());
      ++handed;
    }
  }
  int Refresh() override { return 1; }
  int Snapshot(const std::string&) override { return 1; }
  int StartRecord(const std::string& path) override { return BeginRecording(path, codecKind); }

  void Feed(const FixtureFrame& frame) {
    InputData(frame.payload.data(), static_cast<int32_t>(frame.payload.size()), frame.keyFlag, 0);
  }

  std::atomic<int32_t> width{640};
  std::atomic<int32_t> height{480};
  std::atomic<int> handed{0};

 private:
  const int32_t codecKind;
};

// Frames (non-empty samples) wholly written so far to a file still being recorded: walks the
// chunks of the first movi list as far as the file goes.
size_t WrittenFrames(const std::string& path) {
  const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(path);
  const uint8_t movi[] = {'m', 'o', 'v', 'i'};
  auto at = std::search(bytes.begin(), bytes.end(), std::begin(movi), std::end(movi));
  if (at == bytes.end()) return 0;
  size_t offset = static_cast<size_t>(at - bytes.begin()) + 4;
  size_t frames = 0;
  while (offset + 8 <= bytes.size() &&
         avitest::AviLayout::U32(&bytes[offset]) == avitest::FourCc("00dc")) {
    const uint32_t size = avitest::AviLayout::U32(&bytes[offset + 4]);
    if (offset + 8 + size > bytes.size()) break;
    if (size > 0) ++frames;
    offset += 8 + size + (size & 1);
  }
  return frames;
}

TEST(PlayerRecording, RecordFrameReachesARecordingOnlyWhileOneIsActive) {
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("jpeg_640x480.h264");
  testsupport::TempDir dir;
  const std::string path = dir.File("one.avi");
  HandingPlayer player(AVI_CODEC_JPEG);
  const FixtureFrame& f = frames[0];
  const auto length = static_cast<int32_t>(f.payload.size());

  EXPECT_EQ(player.RecordFrame(f.payload.data(), length, 1, 640, 480), 0);
  EXPECT_EQ(player.StopRecord(), 1);
  EXPECT_EQ(player.StartRecord(path), 1);
  EXPECT_EQ(player.RecordFrame(f.payload.data(), length, 1, 640, 480), 1);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return WrittenFrames(path) == 1; }));
  EXPECT_EQ(player.StopRecord(), 1);
  EXPECT_EQ(player.RecordFrame(f.payload.data(), length, 1, 640, 480), 0);
  EXPECT_EQ(player.StopRecord(), 1);

  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  ASSERT_GE(avi.Samples().size(), 1u);
  EXPECT_EQ(avi.Payload(avi.Samples()[0]), f.payload);
  EXPECT_EQ(avi.fccHandler, avitest::FourCc("mjpg"));
}

TEST(PlayerRecording, StartRecordDuringARecordingCompletesTheFirstFileBeforeTheSecond) {
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("jpeg_640x480.h264");
  testsupport::TempDir dir;
  const std::string first = dir.File("first.avi");
  const std::string second = dir.File("second.avi");
  HandingPlayer player(AVI_CODEC_JPEG);
  ASSERT_EQ(player.Start(), 1);

  ASSERT_EQ(player.StartRecord(first), 1);
  player.Feed(frames[0]);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return player.handed.load() == 1; }));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return WrittenFrames(first) == 1; }));

  ASSERT_EQ(player.StartRecord(second), 1);
  const avitest::AviLayout firstAvi = avitest::ReadAviLayout(first);
  ASSERT_EQ(firstAvi.error, "") << "the first file is complete when StartRecord returns";
  ASSERT_GE(firstAvi.Samples().size(), 1u);
  EXPECT_EQ(firstAvi.Payload(firstAvi.Samples()[0]), frames[0].payload);
  EXPECT_FALSE(fs::exists(second)) << "the second file waits for its own first key frame";

  player.Feed(frames[1]);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return WrittenFrames(second) == 1; }));
  EXPECT_EQ(player.StopRecord(), 1);
  const avitest::AviLayout secondAvi = avitest::ReadAviLayout(second);
  ASSERT_EQ(secondAvi.error, "");
  ASSERT_GE(secondAvi.Samples().size(), 1u);
  EXPECT_EQ(secondAvi.Payload(secondAvi.Samples()[0]), frames[1].payload);
  EXPECT_EQ(avitest::ReadAviLayout(first).bytes, firstAvi.bytes);
}

TEST(PlayerRecording, DeletingThePlayerDuringARecordingLeavesAFileFfmpegDecodes) {
  const std::vector<FixtureFrame> frames = avitest::LoadFixtureFrames("h264_320x240.h264");
  testsupport::TempDir dir;
  const std::string path = dir.File("deleted.avi");
  auto player = std::make_unique<HandingPlayer>(AVI_CODEC_H264);
  player->width = 320;
  player->height = 240;
  ASSERT_EQ(player->Start(), 1);
  ASSERT_EQ(player->StartRecord(path), 1);
  for (const FixtureFrame& frame : frames) player->Feed(frame);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return WrittenFrames(path) >= 3; }));
  player.reset();

  const avitest::AviLayout avi = avitest::ReadAviLayout(path);
  ASSERT_EQ(avi.error, "");
  // Whatever was still waiting is gone; what was written is a gapless run from frame 0.
  size_t frame = 0;
  for (const avitest::Sample& sample : avi.Samples()) {
    EXPECT_TRUE(sample.key);
    if (sample.size == 0) continue;
    ASSERT_LT(frame, frames.size());
    EXPECT_EQ(avi.Payload(sample), frames[frame].payload) << "frame " << frame;
    ++frame;
  }
  EXPECT_GE(frame, 3u);
  int status = -1;
  EXPECT_EQ(
      avitest::RunCommand(
          "ffmpeg -nostdin -v error -i " + avitest::Quoted(path) + " -f null - 2>&1", &status),
      "");
  EXPECT_EQ(status, 0);
}

}  // namespace
