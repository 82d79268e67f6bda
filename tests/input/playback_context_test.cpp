#include "input/playback_context.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "input/reader.h"
#include "platform/memory_window.h"
#include "player/messages.h"
#include "tests/input/reader_fakes.h"
#include "tests/support/test_support.h"

namespace {

using readerfakes::FakeClock;
using readerfakes::FakePlayerFactory;
using readerfakes::PlayerLog;
using readerfakes::RecordingBuilder;
using readerfakes::RecordingObserver;

constexpr auto kGuard = std::chrono::seconds(20);

// A context set up with fakes, its reader started the way StartPlayback starts it, so that a
// test can also set flags and an observer before the thread runs.
struct Playback {
  explicit Playback(const std::string& path, bool clockAdvances = false)
      : clock(1000, clockAdvances) {
    context = CreatePlaybackContext(path);
    context->createPlayer = FakePlayerFactory(log, &clock);
    context->clock = &clock;
    context->videoWindow = &video;
    context->notifyWindow = &notify;
    context->observer = &observer;
  }

  void Start() {
    context->running.store(1);
    context->thread = std::thread(ReaderThreadProc, context.get());
  }

  // Destroys the context on another thread and waits for that with a generous guard. When
  // the guard passes, rescue() lets the reader go so that the test can still end.
  bool DestroyWithinGuard(const std::function<void()>& rescue) {
    std::atomic<bool> done{false};
    std::thread destroyer([&] {
      DestroyPlaybackContext(context);
      done.store(true);
    });
    const bool inTime = testsupport::WaitUntil([&] { return done.load(); }, kGuard);
    if (!inTime) rescue();
    destroyer.join();
    return inTime;
  }

  FakeClock clock;
  std::shared_ptr<PlayerLog> log = std::make_shared<PlayerLog>();
  platform::MemoryWindow video{320, 240};
  platform::MemoryWindow notify{0, 0};
  RecordingObserver observer;
  std::unique_ptr<PlaybackContext> context;
};

std::string WriteRecording(const testsupport::TempDir& dir, const std::string& name,
                           const RecordingBuilder& file) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(testsupport::WriteFileBytes(path, file.bytes));
  return path;
}

// Bytes this process has read from files so far, or -1 where the kernel does not tell.
int64_t BytesReadByProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

// ---- Teardown never waits out a wait -------------------------------------------------------

// Each case leaves the reader in a wait on a clock that stands still, so the wait can only
// end through running.
struct TeardownCase {
  const char* name;
  std::function<void(RecordingBuilder&)> build;
  std::function<void(Playback&)> beforeStart;
  std::function<bool(Playback&)> readerIsWaiting;
};

void PrintTo(const TeardownCase& c, std::ostream* os) {
  *os << c.name;
}

class PlaybackTeardown : public ::testing::TestWithParam<TeardownCase> {};

TEST_P(PlaybackTeardown, ReturnsWhileTheReaderIsInAWait) {
  const TeardownCase& c = GetParam();
  testsupport::TempDir dir;
  RecordingBuilder file;
  c.build(file);
  Playback playback(WriteRecording(dir, "teardown.h264", file));
  if (c.beforeStart) c.beforeStart(playback);
  playback.Start();
  ASSERT_TRUE(testsupport::WaitUntil([&] { return c.readerIsWaiting(playback); }, kGuard));

  std::shared_ptr<PlayerLog> log = playback.log;
  const bool hadPlayer = !log->Made().empty();
  EXPECT_TRUE(playback.DestroyWithinGuard([&] { playback.clock.StartAdvancing(); }));
  EXPECT_EQ(playback.context, nullptr);
  EXPECT_EQ(log->Destroyed(), hadPlayer ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, PlaybackTeardown,
    ::testing::Values(TeardownCase{"jpegPacing",
                                   [](RecordingBuilder& f) {
                                     for (int i = 0; i < 3; ++i) f.Frame(FRAME_JPEG, 100, 0);
                                   },
                                   nullptr,
                                   [](Playback& p) {
                                     return p.log->InputCount() == 1 && p.clock.SleepCount() >= 2;
                                   }},
                      TeardownCase{"h264Pacing",
                                   [](RecordingBuilder& f) {
                                     f.Frame(FRAME_H264_KEY, 100, 500);
                                     f.Frame(FRAME_H264_NONKEY, 100, 900);  // 400 ms later
                                   },
                                   nullptr,
                                   [](Playback& p) {
                                     return p.log->InputCount() == 1 && p.clock.SleepCount() >= 2;
                                   }},
                      TeardownCase{"pause",
                                   [](RecordingBuilder& f) { f.Frame(FRAME_H264_KEY, 100, 500); },
                                   [](Playback& p) { p.context->paused.store(1); },
                                   [](Playback& p) { return p.clock.SleepCount() >= 2; }}),
    [](const ::testing::TestParamInfo<TeardownCase>& info) { return info.param.name; });

TEST(PlaybackTeardown, ReturnsDuringALongSeekScan) {
  testsupport::TempDir dir;
  RecordingBuilder file;
  file.Frame(FRAME_H264_KEY, 100, 500);
  const std::string path = WriteRecording(dir, "scan.h264", file);
  // A terabyte of zeros after the frame, taking no disk space: the scan searches it byte by
  // byte for a magic and would take hours to reach the end.
  const int64_t length = int64_t{1} << 40;
  if (truncate(path.c_str(), length) != 0) GTEST_SKIP() << "no sparse file of 1 TiB here";

  Playback playback(path);
  playback.context->seekTarget.store(length - 1);
  playback.context->seekRequested.store(1);
  const int64_t readBefore = BytesReadByProcess();
  playback.Start();
  ASSERT_TRUE(
      testsupport::WaitUntil([&] { return playback.context->seekRequested.load() == 0; }, kGuard));
  // Deep into the scan: 64 MiB of zeros read.
  if (readBefore >= 0) {
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return BytesReadByProcess() - readBefore > (int64_t{64} << 20); }, kGuard));
  }
  // Cutting the file short lets a scan that ignores running end after all.
  EXPECT_TRUE(playback.DestroyWithinGuard([&] { EXPECT_EQ(truncate(path.c_str(), 0), 0); }));
  EXPECT_TRUE(playback.notify.MessagesOf(WM_PLAYER_POSITION).empty());
}

// ---- Paths that are not recordings ---------------------------------------------------------

TEST(PlaybackOpen, APathThatIsNotARegularFileEndsTheReaderWithoutAMessage) {
  testsupport::TempDir dir;
  const std::string fifo = dir.File("fifo.h264");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = dir.File("missing.h264");
  const std::string withNul = dir.File("a.h264") + std::string(1, '\0') + "tail";
  RecordingBuilder file;
  file.Frame(FRAME_JPEG, 1, 1);
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("a.h264"), file.bytes));

  // /dev/zero would feed the magic search for ever; a fifo would block the open.
  for (const std::string& path :
       {missing, dir.Path(), std::string("/dev/zero"), fifo, std::string(), withNul}) {
    SCOPED_TRACE(path);
    Playback playback(path, /*clockAdvances=*/true);
    playback.Start();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return playback.observer.Ended(); }, kGuard));
    EXPECT_EQ(playback.observer.EndReason(), ReaderEnd::OpenFailed);
    EXPECT_TRUE(playback.notify.Messages().empty());
    EXPECT_TRUE(playback.log->Made().empty());
    // The reader has ended by itself; the context waits for the dialog, still "running".
    EXPECT_EQ(playback.context->running.load(), 1);
    // A reader stuck opening the fifo is let go by a writer that comes and leaves.
    EXPECT_TRUE(playback.DestroyWithinGuard([&] {
      const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) close(writer);
    }));
  }
}

// ---- StartPlayback -------------------------------------------------------------------------

TEST(PlaybackStart, ReplacesTheCurrentContextAndKeepsALongPathWhole) {
  testsupport::TempDir dir;
  RecordingBuilder first;
  for (int i = 0; i < 3; ++i) first.Frame(FRAME_JPEG, 100, 0);
  const std::string firstPath = WriteRecording(dir, "first.h264", first);

  // A path far longer than 260 bytes.
  std::string deep = dir.Path();
  for (int i = 0; i < 6; ++i) {
    deep += "/" + std::string(60, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  RecordingBuilder second;
  for (int i = 0; i < 4; ++i) second.Frame(FRAME_H264_KEY, 100, 0, 100);
  const std::string secondPath =
      WriteRecording(dir, deep.substr(dir.Path().size() + 1) + "/second.h264", second);
  ASSERT_GT(secondPath.size(), 400u);

  FakeClock clock(1000, /*advancing=*/true);
  auto log = std::make_shared<PlayerLog>();
  platform::MemoryWindow video(320, 240);
  platform::MemoryWindow notify(0, 0);
  std::unique_ptr<PlaybackContext> current;
  StartPlayback(current, firstPath, &video, &notify, FakePlayerFactory(log, &clock), clock);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->videoWindow, &video);
  EXPECT_EQ(current->notifyWindow, &notify);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return log->InputCount() == 3; }, kGuard));

  StartPlayback(current, secondPath, &video, &notify, FakePlayerFactory(log, &clock), clock);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->path, secondPath);
  // The first context's player went before the second context made its own.
  EXPECT_EQ(log->Destroyed(), 1);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return log->InputCount() == 7; }, kGuard));
  EXPECT_EQ(log->Made(), (std::vector<PlayerKind>{PlayerKind::Jpeg, PlayerKind::H264}));
  const auto sizes = notify.MessagesOf(WM_PLAYER_FILESIZE);
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[1].wParam, second.bytes.size());
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return notify.MessagesOf(WM_PLAYER_POSITION).size() == 7; }, kGuard));
  EXPECT_EQ(notify.MessagesOf(WM_PLAYER_POSITION).back().wParam, second.bytes.size());

  DestroyPlaybackContext(current);
  EXPECT_EQ(current, nullptr);
  EXPECT_EQ(log->Destroyed(), 2);
  DestroyPlaybackContext(current);  // nothing to destroy
}

TEST(PlaybackStart, PlaysARecordingThroughTheRealPlayerItsFirstFrameChooses) {
  struct Case {
    const char* fixture;
    uint64_t sizeClass;
  };
  for (const Case& c :
       {Case{"tests/data/h264_320x240.h264", 0}, Case{"tests/data/jpeg_640x480.h264", 1}}) {
    SCOPED_TRACE(c.fixture);
    const std::string path = testsupport::SourcePath(c.fixture);
    const auto bytes = testsupport::ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty());
    platform::MemoryWindow video(320, 240);
    platform::MemoryWindow notify(0, 0);
    std::unique_ptr<PlaybackContext> current;
    StartPlayback(current, path, &video, &notify);
    ASSERT_NE(current, nullptr);
    // Played in real time to the last frame, which is drawn.
    EXPECT_TRUE(notify.WaitFor(
        [&] {
          const auto positions = notify.MessagesOf(WM_PLAYER_POSITION);
          return !positions.empty() && positions.back().wParam == bytes.size();
        },
        kGuard));
    EXPECT_TRUE(video.WaitFor([&] { return video.PresentCount() > 0; }, kGuard));
    const auto sizes = notify.MessagesOf(WM_PLAYER_VIDEOSIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].wParam, c.sizeClass);
    DestroyPlaybackContext(current);
  }
}

}  // namespace
