#include "jpeg/jpeg_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/jpeg_codec.h"
#include "platform/memory_window.h"
#include "player/messages.h"
#include "record/avi_recorder.h"
#include "tests/support/test_support.h"

namespace {

using platform::MemoryWindow;
using namespace std::chrono_literals;

constexpr auto GUARD = 20s;

struct Frame {
  uint32_t seconds = 0;
  std::vector<uint8_t> bytes;
};

// The frames of a recording, read the way the format lays them out (little-endian fields).
std::vector<Frame> ReadRecording(const std::string& relative) {
  const std::vector<uint8_t> file = testsupport::ReadFileBytes(testsupport::SourcePath(relative));
  const auto u32 = [&file](size_t at) {
    return static_cast<uint32_t>(file[at]) | (static_cast<uint32_t>(file[at + 1]) << 8) |
           (static_cast<uint32_t>(file[at + 2]) << 16) |
           (static_cast<uint32_t>(file[at + 3]) << 24);
  };
  std::vector<Frame> frames;
  size_t at = 0;
  while (at + 32 <= file.size() && u32(at) == 0xA815AA55u) {
    const uint32_t length = u32(at + 16);
    if (at + 32 + length > file.size()) break;
    frames.push_back(Frame{u32(at + 8), std::vector<uint8_t>(file.begin() + at + 32,
                                                             file.begin() + at + 32 + length)});
    at += 32 + length;
  }
  return frames;
}

const std::vector<Frame>& FixtureFrames() {
  static const std::vector<Frame> frames = ReadRecording("tests/data/jpeg_640x480.h264");
  return frames;
}

struct Rgb {
  int r, g, b;
};

Rgb Unpack(uint32_t pixel) {
  return {static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
          static_cast<int>(pixel & 0xFF)};
}

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

bool IsTextRed(uint32_t pixel) {
  const Rgb c = Unpack(pixel);
  return c.r >= 200 && c.g <= 60 && c.b <= 60;
}

// A JPEG of one flat colour, made with the codec under test's sibling.
std::vector<uint8_t> MakeFlatJpeg(int32_t width, int32_t height, Rgb colour) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = static_cast<uint8_t>(colour.b);
    pixels[i + 1] = static_cast<uint8_t>(colour.g);
    pixels[i + 2] = static_cast<uint8_t>(colour.r);
    pixels[i + 3] = 0;
  }
  testsupport::TempDir dir;
  const platform::PixelView view{pixels.data(), width * 4, width, height,
                                 platform::PixelFormat::Rgb32};
  EXPECT_TRUE(platform::WriteJpegFile(view, 90, dir.File("flat.jpg")));
  return testsupport::ReadFileBytes(dir.File("flat.jpg"));
}

struct Box {
  int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  int32_t count = 0;
  bool operator==(const Box&) const = default;
};

// Where the red text pixels are in the window (right and bottom inclusive).
Box RedBox(const MemoryWindow& window) {
  const platform::Rect client = window.GetClientRect();
  const std::vector<uint32_t> pixels = window.ClientPixels();
  Box box;
  for (int32_t y = 0; y < client.Height(); ++y) {
    for (int32_t x = 0; x < client.Width(); ++x) {
      if (!IsTextRed(pixels[static_cast<size_t>(y) * client.Width() + x])) continue;
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x);
      box.bottom = std::max(box.bottom, y);
      ++box.count;
    }
  }
  return box;
}

// A player whose recording is an idle recorder (no thread, no file), so the test can see
// exactly what is handed to a recording.
class RecordingSpyPlayer : public CJPEGPlayer {
 public:
  using CJPEGPlayer::CJPEGPlayer;

  void AttachIdleRecorder() {
    CriticalSectionGuard guard(recorderLock);
    recorder = CreateRecorder();
  }

  std::vector<FrameItem> TakeRecorded() {
    std::vector<FrameItem> items;
    CriticalSectionGuard guard(recorderLock);
    FrameItem item;
    while (recorder && recorder->frameQueue && recorder->frameQueue->Pop(&item)) {
      items.push_back(std::move(item));
    }
    return items;
  }
};

std::vector<uint8_t> BytesOf(const FrameItem& item) {
  return std::vector<uint8_t>(item.data.get(), item.data.get() + item.length);
}

class JpegPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(FixtureFrames().size(), 10u); }

  MemoryWindow notify{1, 1};
  MemoryWindow video{800, 600};
};

TEST_F(JpegPlayerTest, PictureIsStretchedOverTheWholeClientArea) {
  CJPEGPlayer player(&notify, &video);
  const Frame& frame = FixtureFrames()[0];
  player.DrawJpeg(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), frame.seconds);
  ASSERT_EQ(video.PresentCount(), 1u);

  const platform::DecodedImage jpeg = platform::DecodeJpeg(frame.bytes.data(), frame.bytes.size());
  ASSERT_EQ(jpeg.width, 640);
  // Whatever the sampling, a window pixel takes the colour of the JPEG pixel under it or
  // of a neighbour.
  const auto matches = [&](int32_t windowX, int32_t windowY) {
    const Rgb shown = Unpack(video.PixelAt(windowX, windowY));
    const int32_t jx = windowX * 640 / 800, jy = windowY * 480 / 600;
    for (int32_t y = std::max(jy - 1, 0); y <= std::min(jy + 1, 479); ++y) {
      for (int32_t x = std::max(jx - 1, 0); x <= std::min(jx + 1, 639); ++x) {
        const uint8_t* p = jpeg.pixels.data() + static_cast<size_t>(y) * jpeg.pitch + x * 4;
        if (Near(shown, Rgb{p[2], p[1], p[0]}, 24)) return ::testing::AssertionSuccess();
      }
    }
    return ::testing::AssertionFailure() << "window (" << windowX << ", " << windowY << ") shows "
                                         << shown.r << ", " << shown.g << ", " << shown.b;
  };
  // The corners (the top-left one beside the text), then the whole last row and column:
  // the picture reaches every edge of the 800 x 600 area, not only 640 x 480 of it.
  for (const auto& [x, y] : {std::pair{0, 0}, {799, 0}, {0, 599}, {799, 599}}) {
    EXPECT_TRUE(matches(x, y));
  }
  for (int32_t x = 0; x < 800; ++x) EXPECT_TRUE(matches(x, 599));
  for (int32_t y = 40; y < 600; ++y) EXPECT_TRUE(matches(799, y));
}

TEST_F(JpegPlayerTest, CaptureTimeIsRedAtTenTenAndTheSameSizeInEveryWindow) {
  // A flat grey picture, so every red pixel is the text's.
  const std::vector<uint8_t> grey = MakeFlatJpeg(320, 240, Rgb{90, 90, 90});
  std::vector<Box> boxes;
  for (const auto& [width, height] : {std::pair{320, 240}, {800, 600}, {1280, 720}}) {
    MemoryWindow window(width, height);
    CJPEGPlayer player(&notify, &window);
    player.DrawJpeg(grey.data(), static_cast<int32_t>(grey.size()), 1773480413);
    boxes.push_back(RedBox(window));
    const Box& box = boxes.back();
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    EXPECT_GE(box.count, 100);
    EXPECT_GE(box.left, 10);
    EXPECT_LE(box.left, 13);
    EXPECT_GE(box.top, 10);
    EXPECT_LE(box.top, 18);
    // Nineteen characters of a 20-pixel bold font: wide, one line high.
    EXPECT_GE(box.right - box.left, 150);
    EXPECT_LE(box.bottom - box.top, 22);
    EXPECT_GE(box.bottom - box.top, 10);
  }
  EXPECT_EQ(boxes[0], boxes[1]);
  EXPECT_EQ(boxes[1], boxes[2]);
}

TEST_F(JpegPlayerTest, SizeMessageIsPostedOnceFromTheFirstPictureWidth) {
  const std::vector<uint8_t> notJpeg = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
  const struct {
    const char* name;
    std::vector<uint8_t> first;
    uint64_t expected;
  } cases[] = {
      {"640 x 480", FixtureFrames()[0].bytes, 1},
      {"640 wide, any height", MakeFlatJpeg(640, 360, Rgb{0, 0, 200}), 1},
      {"320 x 240", MakeFlatJpeg(320, 240, Rgb{0, 0, 200}), 0},
      {"1280 x 720 is never 2", MakeFlatJpeg(1280, 720, Rgb{0, 0, 200}), 0},
      {"undecodable", notJpeg, 0},
  };
  const std::vector<uint8_t>& later = FixtureFrames()[1].bytes;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryWindow notifyWindow(1, 1);
    MemoryWindow window(320, 240);
    CJPEGPlayer player(&notifyWindow, &window);
    player.DrawJpeg(c.first.data(), static_cast<int32_t>(c.first.size()), 5);
    player.DrawJpeg(later.data(), static_cast<int32_t>(later.size()), 6);
    const auto messages = notifyWindow.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_PLAYER_VIDEOSIZE);
    EXPECT_EQ(messages[0].wParam, c.expected);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_TRUE(window.Messages().empty());
  }
}

TEST_F(JpegPlayerTest, UndecodableBytesDrawBlackWithTheTimeAndAreStillRecordedAndKept) {
  std::vector<uint8_t> good = FixtureFrames()[0].bytes;
  std::vector<uint8_t> half(good.begin(), good.begin() + good.size() / 2);
  std::vector<uint8_t> absurd = good;
  // Declared frame size 65535 x 65535 in the start-of-frame segment.
  for (size_t i = 0; i + 9 < absurd.size(); ++i) {
    if (absurd[i] == 0xFF && absurd[i + 1] == 0xC0) {
      std::fill(absurd.begin() + i + 5, absurd.begin() + i + 9, 0xFF);
      break;
    }
  }
  const std::string text = "plain text where a picture should be";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool negativeLength = false;  // must count as no bytes, never as a huge count
  } cases[] = {
      {"not a JPEG", std::vector<uint8_t>(text.begin(), text.end())},
      {"cut in half", half},
      {"zero length", {}},
      {"65535 x 65535 declared", absurd},
      {"negative length", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryWindow window(400, 300);
    testsupport::TempDir dir;
    RecordingSpyPlayer player(&notify, &window);
    player.AttachIdleRecorder();
    // Real bytes behind the pointer even when the length says there are none.
    const uint8_t* data =
        c.bytes.empty() ? reinterpret_cast<const uint8_t*>(text.data()) : c.bytes.data();
    player.InputData(data, c.negativeLength ? -5 : static_cast<int32_t>(c.bytes.size()), 1,
                     1773480413);
    player.Start();
    ASSERT_TRUE(window.WaitFor([&] { return window.PresentCount() == 1; }, GUARD));
    player.Stop();

    // Black everywhere but the text: the stale buffer never reaches the window.
    const std::vector<uint32_t> pixels = window.ClientPixels();
    for (size_t i = 0; i < pixels.size(); ++i) {
      const Rgb shown = Unpack(pixels[i]);
      ASSERT_TRUE(shown.g <= 40 && shown.b <= 40) << "pixel " << i % 400 << ", " << i / 400;
    }
    EXPECT_GE(RedBox(window).count, 100);

    const std::vector<FrameItem> recorded = player.TakeRecorded();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].keyFlag, 1u);
    EXPECT_EQ(recorded[0].width, 0);
    EXPECT_EQ(recorded[0].height, 0);
    EXPECT_EQ(BytesOf(recorded[0]), c.bytes);

    ASSERT_EQ(player.Snapshot(dir.File("kept.jpg")), 1);
    EXPECT_EQ(testsupport::ReadFileBytes(dir.File("kept.jpg")), c.bytes);
  }
}

TEST_F(JpegPlayerTest, DecodeLoopPlaysEveryFrameInOrderAndSnapshotIsTheLastPayload) {
  RecordingSpyPlayer player(&notify, &video);
  player.AttachIdleRecorder();
  for (const Frame& frame : FixtureFrames()) {
    player.InputData(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), 1,
                     frame.seconds);
  }
  player.Start();
  ASSERT_TRUE(video.WaitFor([&] { return video.PresentCount() == 10; }, GUARD));
  // Stop joins the thread after the pass that keeps the tenth frame.
  player.Stop();

  const std::vector<FrameItem> recorded = player.TakeRecorded();
  ASSERT_EQ(recorded.size(), 10u);
  for (size_t i = 0; i < recorded.size(); ++i) {
    EXPECT_EQ(recorded[i].keyFlag, 1u) << i;
    EXPECT_EQ(recorded[i].width, 640) << i;
    EXPECT_EQ(recorded[i].height, 480) << i;
    EXPECT_EQ(BytesOf(recorded[i]), FixtureFrames()[i].bytes) << i;
  }

  testsupport::TempDir dir;
  const std::string path = dir.File("made/on/demand/last.jpg");
  ASSERT_EQ(player.Snapshot(path), 1);
  EXPECT_EQ(testsupport::ReadFileBytes(path), FixtureFrames()[9].bytes);
}

TEST_F(JpegPlayerTest, SnapshotReportsEveryFailure) {
  testsupport::TempDir dir;
  CJPEGPlayer empty(&notify, &video);
  // Nothing to write yet, but the directories are there all the same.
  EXPECT_EQ(empty.Snapshot(dir.File("early/inner/none.jpg")), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("early/inner")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("early/inner/none.jpg")));

  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("plainfile"), {1, 2, 3}));
  const struct {
    const char* name;
    std::string path;
  } failures[] = {
      {"path is a directory", dir.Path()},
      {"a file stands where a directory is needed", dir.File("plainfile/x.jpg")},
      {"disk full", "/dev/full"},
  };
  // A full disk shows in the write for the fixture's picture, and only when the file is
  // closed for one small enough to sit in the stream's buffer.
  const std::vector<uint8_t> small = MakeFlatJpeg(16, 16, Rgb{10, 200, 10});
  ASSERT_LT(small.size(), 1024u);
  for (const std::vector<uint8_t>* picture : {&FixtureFrames()[0].bytes, &small}) {
    SCOPED_TRACE(std::to_string(picture->size()) + " bytes");
    MemoryWindow window(80, 60);
    CJPEGPlayer player(&notify, &window);
    player.InputData(picture->data(), static_cast<int32_t>(picture->size()), 1, 7);
    player.Start();
    ASSERT_TRUE(window.WaitFor([&] { return window.PresentCount() == 1; }, GUARD));
    player.Stop();

    for (const auto& f : failures) EXPECT_EQ(player.Snapshot(f.path), 0) << f.name;
    EXPECT_EQ(player.Snapshot(dir.File("fine.jpg")), 1);
    EXPECT_EQ(testsupport::ReadFileBytes(dir.File("fine.jpg")), *picture);
  }
}

TEST_F(JpegPlayerTest, RefreshRedrawsTheLastPictureAndHandsItToTheRecordingAgain) {
  RecordingSpyPlayer player(&notify, &video);
  EXPECT_EQ(player.Refresh(), 1);
  EXPECT_EQ(video.PresentCount(), 0u);
  EXPECT_TRUE(notify.Messages().empty());

  const Frame& frame = FixtureFrames()[3];
  player.InputData(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), 1, frame.seconds);
  player.Start();
  ASSERT_TRUE(video.WaitFor([&] { return video.PresentCount() == 1; }, GUARD));
  player.Stop();
  const std::vector<uint32_t> drawn = video.ClientPixels();

  video.InvalidateErase();
  ASSERT_EQ(video.PixelAt(400, 300), 0u);
  player.AttachIdleRecorder();
  player.Refresh();
  EXPECT_EQ(video.PresentCount(), 2u);
  EXPECT_EQ(video.ClientPixels(), drawn);
  const std::vector<FrameItem> recorded = player.TakeRecorded();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].keyFlag, 1u);
  EXPECT_EQ(recorded[0].width, 640);
  EXPECT_EQ(BytesOf(recorded[0]), frame.bytes);
  EXPECT_EQ(notify.MessagesOf(WM_PLAYER_VIDEOSIZE).size(), 1u);
}

TEST_F(JpegPlayerTest, OverlayTextSettingsChangeNothingOnScreen) {
  const Frame& frame = FixtureFrames()[2];
  CJPEGPlayer plain(&notify, &video);
  plain.DrawJpeg(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), frame.seconds);
  const std::vector<uint32_t> expected = video.ClientPixels();

  MemoryWindow other(800, 600);
  CJPEGPlayer withOsd(&notify, &other);
  withOsd.SetOsdText("CAMERA 7 - FRONT DOOR");
  withOsd.ShowOsd(1);
  withOsd.DrawJpeg(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), frame.seconds);
  EXPECT_EQ(other.ClientPixels(), expected);
}

TEST_F(JpegPlayerTest, EmptyClientAreaDrawsNothingButStillReportsAndRecords) {
  const Frame& frame = FixtureFrames()[0];
  for (const auto& [width, height] : {std::pair{0, 0}, {800, 0}, {0, 600}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    MemoryWindow notifyWindow(1, 1);
    MemoryWindow window(width, height);
    RecordingSpyPlayer player(&notifyWindow, &window);
    player.AttachIdleRecorder();
    player.DrawJpeg(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), 1);
    EXPECT_EQ(window.PresentCount(), 0u);
    const auto messages = notifyWindow.MessagesOf(WM_PLAYER_VIDEOSIZE);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].wParam, 1u);
    const std::vector<FrameItem> recorded = player.TakeRecorded();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].width, 640);
    EXPECT_EQ(recorded[0].height, 480);
  }
}

TEST_F(JpegPlayerTest, StartRecordWritesAnAviOfJpegFrames) {
  testsupport::TempDir dir;
  const std::string path = dir.File("rec/out.avi");
  CJPEGPlayer player(&notify, &video);
  EXPECT_EQ(player.StartRecord(path), 1);
  for (const Frame& frame : FixtureFrames()) {
    player.DrawJpeg(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), frame.seconds);
  }
  ASSERT_TRUE(testsupport::WaitUntil([&] { return std::filesystem::exists(path); }, GUARD));
  player.StopRecord();
  const std::vector<uint8_t> avi = testsupport::ReadFileBytes(path);
  const std::string handler = "mjpg";
  EXPECT_NE(std::search(avi.begin(), avi.end(), handler.begin(), handler.end()), avi.end());
  // The first picture's bytes are in the file as they were given.
  const std::vector<uint8_t>& first = FixtureFrames()[0].bytes;
  EXPECT_NE(std::search(avi.begin(), avi.end(), first.begin(), first.end()), avi.end());
}

TEST_F(JpegPlayerTest, RefreshAndSnapshotRaceTheDecodeThreadSafely) {
  testsupport::TempDir dir;
  auto player = std::make_unique<CJPEGPlayer>(&notify, &video);
  player->Start();
  for (int round = 0; round < 3; ++round) {
    for (const Frame& frame : FixtureFrames()) {
      player->InputData(frame.bytes.data(), static_cast<int32_t>(frame.bytes.size()), 1,
                        frame.seconds);
      // Taken from the queue: the decode thread is drawing it or replacing the last
      // picture while this thread redraws and saves.
      ASSERT_TRUE(testsupport::WaitUntil([&] { return player->QueuedFrames() == 0; }, GUARD));
      player->Refresh();
      if (player->Snapshot(dir.File("race.jpg")) == 1) {
        // Whichever frame was last at that moment, the file is one of them, whole.
        const std::vector<uint8_t> written = testsupport::ReadFileBytes(dir.File("race.jpg"));
        EXPECT_TRUE(std::any_of(FixtureFrames().begin(), FixtureFrames().end(),
                                [&](const Frame& f) { return f.bytes == written; }));
      }
    }
  }
  ASSERT_TRUE(video.WaitFor([&] { return video.PresentCount() >= 30; }, GUARD));
  // Destroyed while the thread runs and perhaps draws: it is joined before anything it
  // uses is freed.
  player->InputData(FixtureFrames()[0].bytes.data(),
                    static_cast<int32_t>(FixtureFrames()[0].bytes.size()), 1, 1);
  player.reset();
}

}  // namespace
