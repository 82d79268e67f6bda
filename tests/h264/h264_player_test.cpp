#include "h264/h264_player.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "h264/h264_decoder.h"
#include "platform/display.h"
#include "platform/jpeg_codec.h"
#include "platform/memory_window.h"
#include "player/messages.h"
#include "tests/h264/h264_test_support.h"
#include "tests/support/test_support.h"

namespace {

using h264test::ReadRecording;
using h264test::RecordedFrame;
using std::chrono::seconds;

// One picture as the renderer handed it to the window: its area of the surface, 0x00RRGGBB.
struct Shown {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The conversion every picture must go through, in plain integer arithmetic.
uint32_t FormulaPixel(int y, int u, int v) {
  const int luma = ((y < 16 ? 0 : y - 16) * 9576) >> 13;
  const int r = luma + (((v - 128) * 13123) >> 13);
  const int g = luma + (((u - 128) * -3218) >> 13) + (((v - 128) * -6686) >> 13);
  const int b = luma + (((u - 128) * 16591) >> 13);
  auto clamp = [](int c) { return static_cast<uint32_t>(std::clamp(c, 0, 255)); };
  return (clamp(r) << 16) | (clamp(g) << 8) | clamp(b);
}

Shown Convert(const std::vector<uint8_t>& yuv, int32_t w, int32_t h) {
  Shown out{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  const uint8_t* u = yuv.data() + static_cast<size_t>(w) * h;
  const uint8_t* v = u + static_cast<size_t>(w / 2) * (h / 2);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const size_t c = static_cast<size_t>(y / 2) * (w / 2) + x / 2;
      out.pixels[static_cast<size_t>(y) * w + x] = FormulaPixel(yuv[y * w + x], u[c], v[c]);
    }
  }
  return out;
}

// The capture time is drawn from (10, 10) in 20-pixel text: nothing of it lies outside this.
bool InTextBox(int32_t x, int32_t y) {
  return x < 300 && y < 40;
}

// Pixels that differ outside the text box; 0 means the picture is the expected one.
int DifferencesOutsideText(const Shown& shown, const Shown& expected) {
  if (shown.width != expected.width || shown.height != expected.height) return -1;
  int differences = 0;
  for (int32_t y = 0; y < shown.height; ++y) {
    for (int32_t x = 0; x < shown.width; ++x) {
      if (!InTextBox(x, y) && shown.At(x, y) != expected.At(x, y)) ++differences;
    }
  }
  return differences;
}

// Positions of the pure red pixels that the overlay put over the picture.
std::vector<int> TextMask(const Shown& shown, const Shown& expected) {
  std::vector<int> mask;
  for (int32_t y = 0; y < std::min(shown.height, 40); ++y) {
    for (int32_t x = 0; x < std::min(shown.width, 300); ++x) {
      if (shown.At(x, y) == 0xFF0000u && expected.At(x, y) != 0xFF0000u)
        mask.push_back(y * 1000 + x);
    }
  }
  return mask;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Fixture recordings with their pictures as they must appear (the ffmpeg tool's decode run
// through the formula), made once for the suite.
struct Expected {
  std::vector<RecordedFrame> frames;
  std::vector<Shown> pictures;
};

class H264Player : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fixtures->empty()) return;
    testsupport::TempDir scratch;
    for (auto [file, w, h] :
         {std::tuple{"h264_320x240.h264", 320, 240}, std::tuple{"h264_640x480.h264", 640, 480},
          std::tuple{"h264_1280x720.h264", 1280, 720}}) {
      Expected& expected = (*fixtures)[file];
      expected.frames = ReadRecording(testsupport::SourcePath(std::string("tests/data/") + file));
      for (const auto& yuv : h264test::ReferenceDecode(h264test::Concatenate(expected.frames), w, h,
                                                       scratch.Path())) {
        expected.pictures.push_back(Convert(yuv, w, h));
      }
    }
  }
  static const Expected& Fixture(const std::string& file) {
    const Expected& expected = (*fixtures)[file];
    EXPECT_FALSE(expected.frames.empty()) << file;
    EXPECT_EQ(expected.pictures.size(), expected.frames.size()) << "the ffmpeg tool's decode";
    return expected;
  }

  void SetUp() override {
    platform::SetDisplayPixelFormat(platform::PixelFormat::Rgb32);
    video.SetPresentObserver([this](const platform::PixelView& source, const platform::Rect& r) {
      Shown picture{r.right - r.left, r.bottom - r.top, {}};
      for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* row = source.bits + static_cast<int64_t>(y) * source.pitch;
        for (int32_t x = r.left; x < r.right; ++x) {
          const uint8_t* p = row + x * 4;
          picture.pixels.push_back(p[0] | (p[1] << 8) | (p[2] << 16));
        }
      }
      std::lock_guard<std::mutex> guard(shownMutex);
      shown.push_back(std::move(picture));
    });
  }
  void TearDown() override {
    player.reset();
    platform::ResetDisplayPixelFormat();
  }

  void MakePlayer() {
    player = std::make_unique<CH264Player>(&notify, &video);
    player->Start();
  }
  // Feeds frames as the reader would, keeping the queue short of its flush rule.
  void Feed(const std::vector<RecordedFrame>& frames, size_t from = 0, size_t to = SIZE_MAX) {
    for (size_t i = from; i < std::min(to, frames.size()); ++i) {
      Feed(frames[i].payload, frames[i].Key() ? 1 : 0, frames[i].header.seconds);
    }
  }
  void Feed(const std::vector<uint8_t>& payload, uint32_t key, uint32_t seconds) {
    ASSERT_TRUE(testsupport::WaitUntil([&] { return player->QueuedFrames() < 4; }));
    player->InputData(payload.data(), static_cast<int32_t>(payload.size()), key, seconds);
  }
  bool WaitForShown(size_t count) {
    return video.WaitFor([&] { return ShownCount() >= count; }, seconds(60));
  }
  size_t ShownCount() {
    std::lock_guard<std::mutex> guard(shownMutex);
    return shown.size();
  }
  Shown ShownAt(size_t index) {
    std::lock_guard<std::mutex> guard(shownMutex);
    return shown.at(index);
  }
  std::vector<uint64_t> VideoSizeMessages() const {
    std::vector<uint64_t> classes;
    for (const auto& m : notify.MessagesOf(WM_PLAYER_VIDEOSIZE)) {
      EXPECT_EQ(m.lParam, 0);
      classes.push_back(m.wParam);
    }
    return classes;
  }

  static inline std::map<std::string, Expected>* fixtures = new std::map<std::string, Expected>;
  platform::MemoryWindow notify{0, 0};
  platform::MemoryWindow video{640, 480};
  std::unique_ptr<CH264Player> player;
  std::mutex shownMutex;
  std::vector<Shown> shown;
};

struct SizeCase {
  const char* file;
  uint64_t sizeClass;
};

class H264PlayerFixtures : public H264Player, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(H264PlayerFixtures, ShowsEveryPictureAsDecodedWithItsTimeAndPostsTheSizeClassOnce) {
  const Expected& expected = Fixture(GetParam().file);
  MakePlayer();
  Feed(expected.frames);
  ASSERT_TRUE(WaitForShown(expected.frames.size()));
  ASSERT_EQ(ShownCount(), expected.frames.size());
  for (size_t i = 0; i < expected.frames.size(); ++i) {
    SCOPED_TRACE("picture " + std::to_string(i));
    const Shown picture = ShownAt(i);
    EXPECT_EQ(DifferencesOutsideText(picture, expected.pictures[i]), 0);
    EXPECT_GT(TextMask(picture, expected.pictures[i]).size(), 100u) << "no capture time";
  }
  EXPECT_EQ(VideoSizeMessages(), std::vector<uint64_t>{GetParam().sizeClass});
}

INSTANTIATE_TEST_SUITE_P(Sizes, H264PlayerFixtures,
                         ::testing::Values(SizeCase{"h264_320x240.h264", 0},
                                           SizeCase{"h264_640x480.h264", 1},
                                           SizeCase{"h264_1280x720.h264", 2}));

TEST_F(H264Player, ALaterSizeChangePostsNothingMoreAndShowsTheNewSize) {
  const Expected& small = Fixture("h264_320x240.h264");
  const Expected& large = Fixture("h264_640x480.h264");
  MakePlayer();
  Feed(small.frames, 0, 2);
  Feed(large.frames);
  ASSERT_TRUE(WaitForShown(2 + large.frames.size()));
  for (size_t i = 0; i < large.frames.size(); ++i) {
    EXPECT_EQ(DifferencesOutsideText(ShownAt(2 + i), large.pictures[i]), 0) << "picture " << i;
  }
  EXPECT_EQ(VideoSizeMessages(), std::vector<uint64_t>{0});
}

TEST_F(H264Player, SnapshotBeforeThePictureSavesTheNextOneAndOnlyTheLastPathAsked) {
  const Expected& expected = Fixture("h264_640x480.h264");
  testsupport::TempDir dir;
  const std::string replaced = dir.File("first.jpg");
  const std::string path = dir.File("nested/twice/snap.jpg");
  MakePlayer();
  EXPECT_EQ(player->Snapshot(replaced), 1);
  EXPECT_EQ(player->Snapshot(path), 1);
  EXPECT_FALSE(FileExists(path)) << "there was no picture to save";
  Feed(expected.frames, 0, 1);
  ASSERT_TRUE(WaitForShown(1));
  // The file is written before the picture reaches the window.
  ASSERT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(replaced));
  const std::vector<uint8_t> jpeg = testsupport::ReadFileBytes(path);
  const platform::DecodedImage image = platform::DecodeJpeg(jpeg.data(), jpeg.size());
  EXPECT_EQ(image.width, 640);
  EXPECT_EQ(image.height, 480);
}

TEST_F(H264Player, SnapshotWithAPictureSavesItAtOnceWithTheCaptureTime) {
  const Expected& expected = Fixture("h264_320x240.h264");
  testsupport::TempDir dir;
  const std::string path = dir.File("snap.jpg");
  MakePlayer();
  Feed(expected.frames, 0, 1);
  ASSERT_TRUE(WaitForShown(1));
  ASSERT_EQ(player->Snapshot(path), 1);
  ASSERT_TRUE(FileExists(path));
  const std::vector<uint8_t> jpeg = testsupport::ReadFileBytes(path);
  const platform::DecodedImage image = platform::DecodeJpeg(jpeg.data(), jpeg.size());
  ASSERT_EQ(image.width, 320);
  ASSERT_EQ(image.height, 240);
  ASSERT_EQ(image.pixelWidth, 320);
  // Red text just right of and below (10, 10); the picture itself close to what was shown.
  const Shown screen = ShownAt(1);
  int red = 0;
  int64_t error = 0;
  for (int32_t y = 0; y < 240; ++y) {
    for (int32_t x = 0; x < 320; ++x) {
      const uint8_t* p = image.pixels.data() + static_cast<int64_t>(y) * image.pitch + x * 4;
      if (x >= 10 && x < 60 && y >= 10 && y < 32 && p[2] > 200 && p[1] < 90 && p[0] < 90) ++red;
      const uint32_t s = screen.At(x, y);
      error += std::abs(p[2] - static_cast<int>(s >> 16)) +
               std::abs(p[1] - static_cast<int>((s >> 8) & 0xFF)) +
               std::abs(p[0] - static_cast<int>(s & 0xFF));
    }
  }
  EXPECT_GT(red, 40);
  EXPECT_LT(static_cast<double>(error) / (320 * 240 * 3), 3.0) << "the JPEG is not the picture";
}

TEST_F(H264Player, OverlayChangesLastUntilTheNextDecodedPictureAndApplyToRefresh) {
  const Expected& expected = Fixture("h264_320x240.h264");
  MakePlayer();
  Feed(expected.frames, 0, 1);
  ASSERT_TRUE(WaitForShown(1));
  const std::vector<int> timeMask = TextMask(ShownAt(0), expected.pictures[0]);
  ASSERT_FALSE(timeMask.empty());

  player->ShowOsd(0);
  player->Refresh();
  player->Refresh();
  ASSERT_EQ(ShownCount(), 3u);
  for (size_t i : {1u, 2u}) EXPECT_TRUE(ShownAt(i).pixels == expected.pictures[0].pixels);

  player->SetOsdText("WWWWWWWWWWWW");
  player->Refresh();
  EXPECT_TRUE(ShownAt(3).pixels == expected.pictures[0].pixels) << "SetOsdText switched it on";
  player->ShowOsd(2);
  player->Refresh();
  const std::vector<int> ownMask = TextMask(ShownAt(4), expected.pictures[0]);
  EXPECT_FALSE(ownMask.empty());
  EXPECT_NE(ownMask, timeMask);
  player->ShowOsd(-1);
  player->Refresh();
  EXPECT_TRUE(ShownAt(5).pixels == expected.pictures[0].pixels);

  // The next decoded picture (same second) brings the capture time back, switched on.
  Feed(expected.frames, 1, 2);
  ASSERT_TRUE(WaitForShown(7));
  EXPECT_EQ(TextMask(ShownAt(6), expected.pictures[1]), timeMask);
}

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved.empty())
      unsetenv("TZ");
    else
      setenv("TZ", saved.c_str(), 1);
    tzset();
  }

 private:
  std::string saved;
};

TEST_F(H264Player, TimestampZeroShowsTheLocalTimeOfTheEpoch) {
  ScopedTimeZone zone("<+05>-5");
  const Expected& expected = Fixture("h264_320x240.h264");
  MakePlayer();
  Feed(expected.frames[0].payload, 1, 0);
  ASSERT_TRUE(WaitForShown(1));
  const std::vector<int> drawn = TextMask(ShownAt(0), expected.pictures[0]);
  player->SetOsdText("1970-01-01 05:00:00");
  player->Refresh();
  player->SetOsdText("1970-01-01 00:00:00");
  player->Refresh();
  ASSERT_TRUE(WaitForShown(3));
  EXPECT_FALSE(drawn.empty());
  EXPECT_EQ(drawn, TextMask(ShownAt(1), expected.pictures[0]));
  EXPECT_NE(drawn, TextMask(ShownAt(2), expected.pictures[0]));
}

// Junk first, each frame marked as a key frame so the queue takes it: nothing is drawn or
// reported until the good key frame, which shows normally.
TEST_F(H264Player, JunkFramesDrawNothingAndTheNextKeyFrameShowsNormally) {
  const Expected& expected = Fixture("h264_640x480.h264");
  const std::vector<uint8_t>& key = expected.frames[0].payload;
  std::vector<std::vector<uint8_t>> junk = {{}, {0x00}, {0, 0, 0, 1, 0x65}};
  std::mt19937 random(3);
  for (size_t size : {16u, 900u, 70000u}) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    junk.push_back(bytes);
  }
  for (size_t keep : {size_t{4}, size_t{30}}) junk.emplace_back(key.begin(), key.begin() + keep);
  junk.push_back(h264test::WithoutParameterSets(key));
  MakePlayer();
  for (const auto& bytes : junk) Feed(bytes, 1, 1000);
  Feed(expected.frames, 0, 3);
  ASSERT_TRUE(WaitForShown(3));
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(DifferencesOutsideText(ShownAt(i), expected.pictures[i]), 0) << "picture " << i;
  }
  EXPECT_EQ(VideoSizeMessages(), std::vector<uint64_t>{1});
}

TEST_F(H264Player, TheDamagedRecordingPlaysWithoutHarm) {
  const Expected& good = Fixture("h264_320x240.h264");
  const std::vector<RecordedFrame> damaged =
      ReadRecording(testsupport::SourcePath("tests/data/h264_320x240_damaged.h264"));
  ASSERT_GT(damaged.size(), 3u);
  MakePlayer();
  Feed(damaged);
  ASSERT_TRUE(WaitForShown(3));
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(DifferencesOutsideText(ShownAt(i), good.pictures[i]), 0) << "picture " << i;
  }
  ASSERT_TRUE(testsupport::WaitUntil([&] { return player->QueuedFrames() == 0; }));
  player.reset();
  EXPECT_EQ(VideoSizeMessages(), std::vector<uint64_t>{0});
}

// A player whose decoder could not be found or opened.
class PlayerWithoutDecoder : public CH264Player {
 public:
  PlayerWithoutDecoder(platform::Window* notify, platform::Window* video)
      : CH264Player(notify, video) {
    decoder = std::make_unique<H264DecoderContext>(AV_CODEC_ID_NONE);
  }
};

TEST_F(H264Player, WithoutADecoderFramesAreTakenAndNothingIsShown) {
  const Expected& expected = Fixture("h264_320x240.h264");
  player = std::make_unique<PlayerWithoutDecoder>(&notify, &video);
  player->Start();
  Feed(expected.frames);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return player->QueuedFrames() == 0; }));
  EXPECT_EQ(player->Refresh(), 1);
  player.reset();
  EXPECT_EQ(ShownCount(), 0u);
  EXPECT_TRUE(notify.Messages().empty());
}

// A clock whose sleeps each wait for the test to let them pass, so the test decides how much
// of a poll the decode thread may sleep.
class GatedClock final : public platform::Clock {
 public:
  uint32_t TickMs() override { return 0; }
  void SleepMs(uint32_t) override {
    std::unique_lock<std::mutex> lock(mutex);
    ++sleepsBegun;
    changed.notify_all();
    changed.wait(lock, [&] { return open || granted > 0; });
    if (!open) --granted;
  }
  void Grant() {
    std::lock_guard<std::mutex> guard(mutex);
    ++granted;
    changed.notify_all();
  }
  void Open() {
    std::lock_guard<std::mutex> guard(mutex);
    open = true;
    changed.notify_all();
  }
  int SleepsBegun() {
    std::lock_guard<std::mutex> guard(mutex);
    return sleepsBegun;
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  int sleepsBegun = 0;
  int granted = 0;
  bool open = false;
};

class PlayerOnClock : public CH264Player {
 public:
  PlayerOnClock(platform::Window* notify, platform::Window* video, platform::Clock* pollClock)
      : CH264Player(notify, video) {
    clock = pollClock;
  }
};

// Paced frames must be drawn as they arrive, not gathered until a whole poll has passed:
// that would show a 25 fps recording in bursts ten times a second.
TEST_F(H264Player, AFrameArrivingDuringThePollIsDrawnWithinASlice) {
  const Expected& expected = Fixture("h264_320x240.h264");
  GatedClock clock;
  player = std::make_unique<PlayerOnClock>(&notify, &video, &clock);
  player->Start();
  ASSERT_TRUE(testsupport::WaitUntil([&] { return clock.SleepsBegun() >= 1; }));

  const RecordedFrame& key = expected.frames.front();
  player->InputData(key.payload.data(), static_cast<int32_t>(key.payload.size()), 1,
                    key.header.seconds);
  clock.Grant();  // one slice of the poll, then the frame must be taken
  EXPECT_TRUE(WaitForShown(1));
  EXPECT_LE(clock.SleepsBegun(), 2);
  clock.Open();
  player.reset();
}

// Refresh and Snapshot from another thread while the decode thread draws: every picture
// that reaches the window is one whole decoded picture, and the snapshots are written.
TEST_F(H264Player, RefreshAndSnapshotFromAnotherThreadNeverMixWithDecoding) {
  const Expected& small = Fixture("h264_320x240.h264");
  const Expected& large = Fixture("h264_640x480.h264");
  testsupport::TempDir dir;
  MakePlayer();
  std::atomic<bool> stop{false};
  std::atomic<int> snapshots{0};
  std::thread other([&] {
    while (!stop.load()) {
      player->Refresh();
      if (player->Snapshot(dir.File("s" + std::to_string(snapshots.load() % 3) + ".jpg")) == 1) {
        ++snapshots;
      }
    }
  });
  Feed(small.frames);
  Feed(large.frames);
  ASSERT_TRUE(video.WaitFor([&] { return ShownCount() >= 60; }, seconds(60)));
  stop = true;
  other.join();
  player.reset();
  std::vector<const Shown*> candidates;
  for (const Shown& p : small.pictures) candidates.push_back(&p);
  for (const Shown& p : large.pictures) candidates.push_back(&p);
  const size_t count = ShownCount();
  for (size_t i = 0; i < count; ++i) {
    const Shown picture = ShownAt(i);
    const bool whole = std::any_of(candidates.begin(), candidates.end(), [&](const Shown* c) {
      return DifferencesOutsideText(picture, *c) == 0;
    });
    EXPECT_TRUE(whole) << "picture " << i << " is no decoded picture";
  }
  EXPECT_GT(snapshots.load(), 0);
  EXPECT_TRUE(FileExists(dir.File("s0.jpg")));
}

// Deleting the player at any point of its work ends its thread and frees everything.
TEST_F(H264Player, DeletingThePlayerWhileItDecodesIsSafe) {
  const Expected& expected = Fixture("h264_1280x720.h264");
  for (size_t shownBeforeDelete : {0u, 1u, 2u}) {
    SCOPED_TRACE("deleted after " + std::to_string(shownBeforeDelete) + " pictures");
    {
      std::lock_guard<std::mutex> guard(shownMutex);
      shown.clear();
    }
    MakePlayer();
    Feed(expected.frames);
    ASSERT_TRUE(WaitForShown(shownBeforeDelete));
    player.reset();
    EXPECT_LE(ShownCount(), expected.frames.size());
  }
}

}  // namespace
