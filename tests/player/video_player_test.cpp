#include "player/video_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

// A player whose decode loop only records the payloads it pops.
class RecordingPlayer : public CVideoPlayer {
 public:
  explicit RecordingPlayer(std::atomic<int>* alive = nullptr)
      : CVideoPlayer(nullptr), alive(alive) {}
  ~RecordingPlayer() override { StopDecodeThread(); }

  void DecodeLoop() override {
    if (alive) ++*alive;
    while (running.load() != 0) {
      FrameItem item;
      if (!frameQueue->Pop(&item)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      std::lock_guard<std::mutex> guard(mutex);
      popped.emplace_back(item.data.get(), item.data.get() + item.length);
      timestamps.push_back(item.timestamp);
    }
    if (alive) --*alive;
  }
  int Refresh() override { return 1; }
  int Snapshot(const std::string&) override { return 1; }
  int StartRecord(const std::string& path) override { return BeginRecording(path, 1); }

  size_t PoppedCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return popped.size();
  }
  std::vector<std::vector<uint8_t>> Popped() {
    std::lock_guard<std::mutex> guard(mutex);
    return popped;
  }
  bool HasThread() const { return thread.joinable(); }
  int32_t Running() const { return running.load(); }
  std::string OsdText() const { return std::string(osdText, strnlen(osdText, sizeof osdText)); }
  const char* OsdBytes() const { return osdText; }
  int32_t OsdOn() const { return osdOn.load(); }

 private:
  std::atomic<int>* alive;
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> popped;
  std::vector<uint32_t> timestamps;
};

TEST(VideoPlayer, StartsOneDecodeThreadAndStopJoinsIt) {
  std::atomic<int> alive{0};
  RecordingPlayer player(&alive);
  EXPECT_EQ(player.Start(), 1);
  EXPECT_EQ(player.Start(), 0);  // a second Start while one runs starts nothing
  ASSERT_TRUE(testsupport::WaitUntil([&] { return alive.load() == 1; }));

  EXPECT_EQ(player.Stop(), 1);
  EXPECT_EQ(alive.load(), 0);  // joined: the loop has returned
  EXPECT_FALSE(player.HasThread());
  EXPECT_EQ(player.Running(), 0);
  EXPECT_EQ(player.Stop(), 1);  // a second Stop does nothing more

  // Start after Stop starts a fresh thread on the same queue.
  EXPECT_EQ(player.Start(), 1);
  uint8_t byte = 9;
  player.InputData(&byte, 1, 1, 0);
  EXPECT_TRUE(testsupport::WaitUntil([&] { return player.PoppedCount() == 1; }));
}

TEST(VideoPlayer, FramesQueuedBeforeStartAreDecodedAfterItInOrder) {
  RecordingPlayer player;
  std::vector<uint8_t> frame = {1, 2, 3};
  EXPECT_EQ(player.InputData(frame.data(), 3, 1, 100), 1);
  frame[0] = 4;  // InputData copied: the caller may reuse its buffer at once
  EXPECT_EQ(player.InputData(frame.data(), 3, 1, 101), 1);
  EXPECT_EQ(player.PoppedCount(), 0u);

  player.Start();
  ASSERT_TRUE(testsupport::WaitUntil([&] { return player.PoppedCount() == 2; }));
  auto popped = player.Popped();
  EXPECT_EQ(popped[0], (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(popped[1], (std::vector<uint8_t>{4, 2, 3}));
}

TEST(VideoPlayer, DeletingARunningPlayerEndsItsThreadFirst) {
  std::atomic<int> alive{0};
  auto player = std::make_unique<RecordingPlayer>(&alive);
  player->Start();
  std::vector<uint8_t> frame(1000, 1);
  for (int i = 0; i < 50; ++i) player->InputData(frame.data(), 1000, 1, 0);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return alive.load() == 1; }));
  player.reset();
  EXPECT_EQ(alive.load(), 0);
}

TEST(VideoPlayer, OsdTextIsCutAt127BytesAndAlwaysTerminated) {
  RecordingPlayer player;
  std::string longText(300, 'x');
  player.SetOsdText(longText.c_str());
  EXPECT_EQ(player.OsdText(), std::string(127, 'x'));
  EXPECT_EQ(player.OsdBytes()[127], '\0');

  player.SetOsdText("ab");
  EXPECT_EQ(player.OsdText(), "ab");
  // The rest of the buffer is zero, not what the longer text left there.
  for (size_t i = 2; i < 128; ++i) ASSERT_EQ(player.OsdBytes()[i], '\0') << i;

  player.SetOsdText("");
  for (size_t i = 0; i < 128; ++i) ASSERT_EQ(player.OsdBytes()[i], '\0') << i;
}

TEST(VideoPlayer, ShowOsdSwitchesOnForPositiveValuesOnly) {
  RecordingPlayer player;
  const struct {
    int32_t value;
    int32_t on;
  } cases[] = {{1, 1}, {2, 1}, {0, 0}, {-1, 0}, {INT32_MAX, 1}, {INT32_MIN, 0}};
  for (const auto& c : cases) {
    player.ShowOsd(c.value);
    EXPECT_EQ(player.OsdOn(), c.on) << c.value;
  }
}

TEST(VideoPlayer, RecordFrameWithoutARecordingReturnsZeroAndStopRecordOne) {
  RecordingPlayer player;
  uint8_t byte = 1;
  EXPECT_EQ(player.RecordFrame(&byte, 1, 1, 320, 240), 0);
  EXPECT_EQ(player.StopRecord(), 1);
}

}  // namespace
