#include "input/reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/memory_window.h"
#include "player/messages.h"
#include "tests/input/reader_fakes.h"
#include "tests/support/test_support.h"

namespace {

using readerfakes::FakeClock;
using readerfakes::FakePlayerFactory;
using readerfakes::MakeHeader;
using readerfakes::PlayerLog;
using readerfakes::RecordingBuilder;
using readerfakes::RecordingObserver;
using Skip = RecordingObserver::Skip;

constexpr uint32_t kStartTick = 5000;

// One reader loop over a recording, run on the test's thread with fake player and clock.
struct Walk {
  explicit Walk(const std::vector<uint8_t>& bytes, const std::string& name = "walk.h264")
      : path(dir.File(name)), clock(kStartTick) {
    EXPECT_TRUE(testsupport::WriteFileBytes(path, bytes));
    context = CreatePlaybackContext(path);
    context->createPlayer = FakePlayerFactory(log, &clock);
    context->clock = &clock;
    context->notifyWindow = &notify;
    context->observer = &observer;
    context->running.store(1);
  }

  void Run() { ReadFrames(*context); }

  std::vector<uint64_t> Positions() const {
    std::vector<uint64_t> values;
    for (const auto& m : notify.MessagesOf(WM_PLAYER_POSITION)) values.push_back(m.wParam);
    return values;
  }

  testsupport::TempDir dir;
  std::string path;
  FakeClock clock;
  std::shared_ptr<PlayerLog> log = std::make_shared<PlayerLog>();
  platform::MemoryWindow notify{0, 0};
  RecordingObserver observer;
  std::unique_ptr<PlaybackContext> context;
};

// ---- H.264 pacing --------------------------------------------------------------------------

struct PacingCase {
  const char* name;
  int32_t prevSeconds;
  int32_t prevMillis;
  uint32_t seconds;
  uint16_t milliseconds;
  int32_t delay;
};

void PrintTo(const PacingCase& c, std::ostream* os) {
  *os << c.name;
}

class H264Pacing : public ::testing::TestWithParam<PacingCase> {};

TEST_P(H264Pacing, GivesTheDelayAndRemembersThisFrame) {
  const PacingCase& c = GetParam();
  int32_t prevSeconds = c.prevSeconds;
  int32_t prevMillis = c.prevMillis;
  EXPECT_EQ(H264PacingDelayMs(prevSeconds, prevMillis, c.seconds, c.milliseconds), c.delay);
  EXPECT_EQ(prevSeconds, static_cast<int32_t>(c.seconds));
  EXPECT_EQ(prevMillis, c.milliseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, H264Pacing,
    ::testing::Values(
        PacingCase{"nextSecond", 100, 960, 101, 0, 40},
        PacingCase{"sameSecond", 100, 40, 100, 80, 40},
        PacingCase{"gapOfThreeSeconds", 100, 500, 103, 0, 200},
        PacingCase{"backwardsWithinASecond", 100, 500, 100, 400, 200},
        PacingCase{"overAFullSecond", 100, 900, 101, 100, 200},
        PacingCase{"predecessorAtZeroMs", 100, 0, 100, 80, 0},
        PacingCase{"noPredecessor", 0, 500, 100, 80, 0},
        PacingCase{"sameTime", 100, 500, 100, 500, 0},
        PacingCase{"exactlyOneSecond", 100, 500, 101, 500, 1000},
        PacingCase{"justOverOneSecond", 100, 500, 101, 501, 200},
        PacingCase{"oneSecondBackGetsTheThousand", 100, 500, 99, 400, 900},
        PacingCase{"oneSecondBackOverAThousand", 100, 500, 99, 600, 200},
        PacingCase{"millisecondsOutOfRange", 100, 500, 100, 65535, 200},
        // 0x7FFFFFFF - 0x80000000 wraps to -1: one second back, not four billion ahead.
        PacingCase{"differenceWrapsToMinusOne", INT32_MIN, 500, 0x7FFFFFFFu, 400, 900},
        PacingCase{"differenceWrapsToPlusOne", INT32_MAX, 960, 0x80000000u, 0, 40},
        PacingCase{"secondsAboveTwoToThe31", -2, 960, 0xFFFFFFFFu, 0, 40}),
    [](const ::testing::TestParamInfo<PacingCase>& info) { return info.param.name; });

TEST(ReaderPacing, H264WaitsBeforeTheHandOffAndFastPlaybackKeepsThePreviousTime) {
  RecordingBuilder file;
  const int64_t f0 = file.Frame(FRAME_H264_KEY, 99, 900);
  file.Frame(FRAME_H264_NONKEY, 100, 40);
  file.Frame(FRAME_H264_NONKEY, 100, 80);
  file.Frame(FRAME_H264_NONKEY, 100, 120);
  file.Frame(FRAME_H264_NONKEY, 100, 260);
  Walk walk(file.bytes);
  // Fast playback for the third and fourth frames; the fifth is then paced against the
  // second (220 ms), not the fourth (140 ms).
  walk.observer.afterFrame = [&walk](const ReaderFrame&) {
    const size_t handed = walk.log->InputCount();
    if (handed == 2) walk.context->fast.store(1);
    if (handed == 4) walk.context->fast.store(0);
  };
  walk.Run();

  const std::vector<uint32_t> expectedWaits = {0, 140, 50, 50, 220};
  const std::vector<uint32_t> expectedTimestamps = {99, 100, 100, 100, 100};
  const auto inputs = walk.log->Inputs();
  const auto frames = walk.observer.Frames();
  ASSERT_EQ(inputs.size(), expectedWaits.size());
  ASSERT_EQ(frames.size(), expectedWaits.size());
  uint32_t before = kStartTick;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(inputs[i].tick - before, expectedWaits[i]);
    EXPECT_EQ(frames[i].waitMs, expectedWaits[i]);
    EXPECT_EQ(inputs[i].timestamp, expectedTimestamps[i]);
    EXPECT_EQ(inputs[i].keyFlag, 1u);  // every frame goes as a key item
    before = inputs[i].tick;
  }
  EXPECT_EQ(frames[0].offset, f0);
  for (uint32_t slice : walk.clock.Sleeps()) EXPECT_LE(slice, WAIT_SLICE_MS);
  EXPECT_EQ(walk.observer.EndReason(), ReaderEnd::EndOfFile);
}

// ---- JPEG pacing and clock -----------------------------------------------------------------

class JpegPacing : public ::testing::TestWithParam<int32_t> {};

TEST_P(JpegPacing, WaitsAfterTheProgressMessageAndAddsASecondEveryFivePictures) {
  const int32_t fast = GetParam();
  const uint32_t pictureMs = fast == 1 ? 50 : 200;
  RecordingBuilder file;
  // The seconds of later JPEG frames are never read: they jump about on purpose.
  for (uint32_t i = 0; i < 12; ++i) file.Frame(FRAME_JPEG, i == 0 ? 500 : 9000 - i * 37, 0);
  Walk walk(file.bytes);
  walk.context->fast.store(fast);
  // Each wait comes after the frame was handed on and its position posted.
  std::vector<std::pair<size_t, size_t>> atSleep;  // (frames handed on, positions posted)
  walk.clock.SetOnSleep([&walk, &atSleep] {
    atSleep.emplace_back(walk.log->InputCount(), walk.notify.MessagesOf(WM_PLAYER_POSITION).size());
  });
  walk.Run();

  const auto inputs = walk.log->Inputs();
  ASSERT_EQ(inputs.size(), 12u);
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(inputs[i].timestamp, 500u + i / 5);
    EXPECT_EQ(inputs[i].tick - kStartTick, i * pictureMs);
    EXPECT_EQ(walk.observer.Frames()[i].waitMs, pictureMs);
  }
  ASSERT_FALSE(atSleep.empty());
  for (const auto& [handed, posted] : atSleep) {
    EXPECT_GE(handed, 1u);
    EXPECT_EQ(handed, posted);
  }
}

INSTANTIATE_TEST_SUITE_P(NormalAndFast, JpegPacing, ::testing::Values(0, 1));

TEST(ReaderPacing, JpegSeekRebasesTheTimestampButKeepsTheClockRunning) {
  RecordingBuilder file;
  file.Frame(FRAME_JPEG, 500, 0);
  const int64_t second = file.Frame(FRAME_JPEG, 501, 0);
  file.Frame(FRAME_JPEG, 502, 0);
  const int64_t landing = file.Frame(FRAME_JPEG, 900, 0);
  for (uint32_t s = 901; s <= 903; ++s) file.Frame(FRAME_JPEG, s, 0);
  Walk walk(file.bytes);
  walk.observer.afterFrame = [&walk, second, landing](const ReaderFrame& frame) {
    if (frame.offset == second) {  // the clock stands at 400 ms
      walk.context->seekTarget.store(landing + 1);
      walk.context->seekRequested.store(1, std::memory_order_release);
    }
  };
  walk.Run();

  std::vector<uint32_t> timestamps;
  for (const auto& input : walk.log->Inputs()) timestamps.push_back(input.timestamp);
  // Two pictures at 500; after the seek 900 until the fifth picture overall ends a second.
  EXPECT_EQ(timestamps, (std::vector<uint32_t>{500, 500, 900, 900, 900, 901}));
  EXPECT_EQ(walk.observer.FrameOffsets()[2], landing);
}

// ---- The key-frame gate --------------------------------------------------------------------

TEST(ReaderGate, LeadingNonKeyFramesPassSilentlyUntilASeekToZero) {
  RecordingBuilder file;
  const int64_t n0 = file.Frame(FRAME_H264_NONKEY, 100, 100);
  const int64_t n1 = file.Frame(FRAME_H264_NONKEY, 100, 200);
  const int64_t k2 = file.Frame(FRAME_H264_KEY, 100, 300);
  const int64_t n3 = file.Frame(FRAME_H264_NONKEY, 100, 340);
  Walk walk(file.bytes);
  bool sought = false;
  walk.observer.afterFrame = [&walk, &sought, k2](const ReaderFrame& frame) {
    if (frame.offset == k2 && !sought) {
      sought = true;
      walk.context->seekTarget.store(0);
      walk.context->seekRequested.store(1, std::memory_order_release);
    }
  };
  walk.Run();

  // The player was made at the first (non-key) frame, started once, and the gated frames
  // cost neither a wait nor a message.
  EXPECT_EQ(walk.log->Made(), std::vector<PlayerKind>{PlayerKind::H264});
  EXPECT_EQ(walk.log->Starts(), 1);
  EXPECT_EQ(walk.observer.FrameOffsets(), (std::vector<int64_t>{k2, n0, n1, k2, n3}));
  const auto inputs = walk.log->Inputs();
  ASSERT_FALSE(inputs.empty());
  EXPECT_EQ(inputs[0].tick, kStartTick);
  const auto positions = walk.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions[0], static_cast<uint64_t>(n3));
}

// ---- Pause and seek ------------------------------------------------------------------------

TEST(ReaderPause, ASeekRequestedWhilePausedIsServedOnlyAfterPlay) {
  RecordingBuilder file;
  file.Frame(FRAME_H264_KEY, 100, 100);
  file.Frame(FRAME_H264_NONKEY, 100, 140);
  const int64_t k2 = file.Frame(FRAME_H264_KEY, 100, 180);
  const int64_t n3 = file.Frame(FRAME_H264_NONKEY, 100, 220);
  Walk walk(file.bytes);
  walk.context->paused.store(1);
  walk.context->seekTarget.store(k2 + 5);
  walk.context->seekRequested.store(1, std::memory_order_release);
  int pausedSleeps = 0;
  bool requestKeptWhilePaused = true;
  walk.clock.SetOnSleep([&] {
    if (walk.context->paused.load() != 1) return;
    if (walk.context->seekRequested.load() != 1 || !walk.notify.Messages().empty()) {
      requestKeptWhilePaused = false;
    }
    if (++pausedSleeps == 40) walk.context->paused.store(0);  // Play
  });
  walk.Run();

  EXPECT_TRUE(requestKeptWhilePaused);
  EXPECT_GE(pausedSleeps, 40);
  EXPECT_EQ(walk.context->seekRequested.load(), 0);
  EXPECT_EQ(walk.observer.FrameOffsets(), (std::vector<int64_t>{k2, n3}));
  // Each pause poll lasts its whole 100 ms of clock time.
  const uint32_t pausedMs = walk.log->Inputs()[0].tick - kStartTick;
  EXPECT_GE(pausedMs, 100u);
  EXPECT_EQ(pausedMs % 100, 0u);
}

TEST(ReaderSeek, AFailedSeekEndsTheReaderAfterWhatWasHandedOn) {
  RecordingBuilder file;
  const int64_t k0 = file.Frame(FRAME_H264_KEY, 100, 100);
  file.Frame(FRAME_H264_NONKEY, 100, 140);
  Walk walk(file.bytes);
  walk.observer.afterFrame = [&walk](const ReaderFrame&) {
    walk.context->seekTarget.store(1000000);
    walk.context->seekRequested.store(1, std::memory_order_release);
  };
  walk.Run();
  EXPECT_EQ(walk.observer.FrameOffsets(), std::vector<int64_t>{k0});
  EXPECT_EQ(walk.observer.EndReason(), ReaderEnd::SeekFailed);
  EXPECT_EQ(walk.log->Destroyed(), 0);  // the player stays with the last picture
}

// ---- Damage and resynchronisation ----------------------------------------------------------

struct DamageCase {
  const char* name;
  std::function<void(RecordingBuilder&, std::vector<int64_t>&, std::vector<Skip>&)> build;
  ReaderEnd end;
};

const uint8_t kMagicBytes[4] = {0x55, 0xAA, 0x15, 0xA8};

std::vector<uint8_t> Junk(size_t n, uint8_t value = 0x11) {
  return std::vector<uint8_t>(n, value);
}

void PrintTo(const DamageCase& c, std::ostream* os) {
  *os << c.name;
}

class ReaderDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ReaderDamage, HandsOnExactlyTheIntactFramesAndSkipsWhereTheSearchSays) {
  RecordingBuilder file;
  std::vector<int64_t> handed;
  std::vector<Skip> skips;
  GetParam().build(file, handed, skips);
  Walk walk(file.bytes);
  walk.Run();
  EXPECT_EQ(walk.observer.FrameOffsets(), handed);
  EXPECT_EQ(walk.observer.Skips(), skips);
  EXPECT_EQ(walk.observer.EndReason(), GetParam().end);
  // Every frame handed on reached the player whole.
  const auto inputs = walk.log->Inputs();
  ASSERT_EQ(inputs.size(), handed.size());
  for (size_t i = 0; i < handed.size(); ++i) {
    const FrameHeader header = ParseFrameHeader(&file.bytes[handed[i]]);
    const auto begin = file.bytes.begin() + handed[i] + FRAME_HEADER_SIZE;
    EXPECT_EQ(inputs[i].length, static_cast<int32_t>(header.dataLength));
    if (header.dataLength <= 64 * 1024) {
      EXPECT_EQ(inputs[i].data, std::vector<uint8_t>(begin, begin + header.dataLength));
    }
  }
  // The file length was posted once, first.
  const auto messages = walk.notify.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].message, WM_PLAYER_FILESIZE);
  EXPECT_EQ(messages[0].wParam, file.bytes.size());
  EXPECT_EQ(walk.notify.MessagesOf(WM_PLAYER_FILESIZE).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderDamage,
    ::testing::Values(DamageCase{"emptyFile", [](auto&, auto&, auto&) {}, ReaderEnd::EndOfFile},
                      DamageCase{"shorterThanAHeader",
                                 [](auto& f, auto&, auto&) { f.Raw(Junk(20)); },
                                 ReaderEnd::CutShort},
                      DamageCase{"emptyPayloadAndLargestPayload",
                                 [](auto& f, auto& h, auto&) {
                                   h.push_back(f.Frame(FRAME_H264_KEY, 1, 1, 0));
                                   h.push_back(f.Frame(FRAME_H264_NONKEY, 1, 2, MAX_FRAME_LENGTH));
                                   h.push_back(f.Frame(FRAME_H264_NONKEY, 1, 3, 0));
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"lengthOverTheLimitIsSearchedThrough",
                                 [](auto& f, auto& h, auto& s) {
                                   h.push_back(f.Frame(FRAME_JPEG, 1, 1));
                                   const int64_t bad =
                                       f.Header(MakeHeader(FRAME_JPEG, MAX_FRAME_LENGTH + 1),
                                                Junk(MAX_FRAME_LENGTH + 1));
                                   const int64_t next = f.Frame(FRAME_JPEG, 1, 2);
                                   h.push_back(next);
                                   s.push_back({bad, next});
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"reversedMagicAtTheStart",
                                 [](auto& f, auto& h, auto& s) {
                                   f.Header(MakeHeader(FRAME_H264_KEY, 8, 0x55AA15A8u), Junk(8));
                                   const int64_t next = f.Frame(FRAME_H264_KEY, 1, 1);
                                   h.push_back(next);
                                   s.push_back({0, next});
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"typeTwoAndTypeFourAreSearchedThrough",
                                 [](auto& f, auto& h, auto& s) {
                                   h.push_back(f.Frame(FRAME_H264_KEY, 1, 1));
                                   const int64_t two = f.Header(MakeHeader(2, 40), Junk(40));
                                   const int64_t four = f.Header(MakeHeader(4, 0));
                                   const int64_t next = f.Frame(FRAME_H264_NONKEY, 1, 2);
                                   h.push_back(next);
                                   s.push_back({two, four});
                                   s.push_back({four, next});
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"aHeaderStartingInsideForeignBytesIsMissed",
                                 [](auto& f, auto& h, auto& s) {
                                   f.Raw(Junk(3));
                                   f.Frame(FRAME_H264_KEY, 1, 1,
                                           40);  // at byte 3: inside the first 32
                                   const int64_t next = f.Frame(FRAME_H264_KEY, 1, 2);
                                   h.push_back(next);
                                   s.push_back({0, next});
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"aMagicInACrossedPayloadIsTakenWhenItsHeaderIsValid",
                                 [](auto& f, auto& h, auto& s) {
                                   const int64_t bad = f.Header(MakeHeader(9, 0));
                                   RecordingBuilder inner;  // a whole valid frame inside junk
                                   inner.Raw(Junk(10));
                                   inner.Frame(FRAME_H264_KEY, 1, 1, 4);
                                   inner.Raw(Junk(40));
                                   const int64_t base = f.Raw(inner.bytes);
                                   h.push_back(base + 10);
                                   s.push_back({bad, base + 10});
                                   // What follows the inner frame is junk again, then a real frame.
                                   const int64_t next = f.Frame(FRAME_H264_NONKEY, 1, 2);
                                   s.push_back({base + 10 + 32 + 4, next});
                                   h.push_back(next);
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"aMagicWhoseHeaderFailsRestartsTheSearch32BytesOn",
                                 [](auto& f, auto& h, auto& s) {
                                   const int64_t bad = f.Header(MakeHeader(9, 0));
                                   // A magic with a bad type, and a second magic 8 bytes into it:
                                   // missed.
                                   std::vector<uint8_t> fake(32, 0x22);
                                   std::copy(kMagicBytes, kMagicBytes + 4, fake.begin());
                                   fake[4] = 7;
                                   std::copy(kMagicBytes, kMagicBytes + 4, fake.begin() + 8);
                                   const int64_t fakeAt = f.Raw(fake);
                                   const int64_t next = f.Frame(FRAME_H264_KEY, 1, 2);
                                   h.push_back(next);
                                   s.push_back({bad, fakeAt});
                                   s.push_back({fakeAt, next});
                                 },
                                 ReaderEnd::EndOfFile},
                      DamageCase{"junkToTheEnd",
                                 [](auto& f, auto& h, auto& s) {
                                   h.push_back(f.Frame(FRAME_JPEG, 1, 1));
                                   const int64_t junk = f.Raw(Junk(100));
                                   s.push_back({junk, junk + 100});
                                 },
                                 ReaderEnd::NoFurtherMagic},
                      DamageCase{"aMagicWithTooFewBytesForAHeaderAtTheEnd",
                                 [](auto& f, auto& h, auto& s) {
                                   h.push_back(f.Frame(FRAME_JPEG, 1, 1));
                                   const int64_t junk = f.Raw(Junk(40));
                                   const int64_t magic = f.Raw({0x55, 0xAA, 0x15, 0xA8, 3, 0, 0});
                                   s.push_back({junk, magic});
                                 },
                                 ReaderEnd::CutShort},
                      DamageCase{"lastPayloadCutShort",
                                 [](auto& f, auto& h, auto&) {
                                   h.push_back(f.Frame(FRAME_H264_KEY, 1, 1));
                                   f.Header(MakeHeader(FRAME_H264_NONKEY, 50), Junk(49));
                                 },
                                 ReaderEnd::CutShort},
                      DamageCase{"uninterpretedBytesDoNotMatter",
                                 [](auto& f, auto& h, auto&) {
                                   FrameHeader header = MakeHeader(FRAME_H264_KEY, 3);
                                   header.reserved5 = 0xFF;
                                   header.reserved12 = 0xFFFFFFFFu;
                                   for (uint8_t& b : header.reserved20) b = 0xA8;
                                   h.push_back(f.Header(header, {1, 2, 3}));
                                   h.push_back(f.Frame(FRAME_H264_NONKEY, 1, 2));
                                 },
                                 ReaderEnd::EndOfFile}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

TEST(ReaderDamage, TheDamagedFixturesPlayTheirIntactFrames) {
  // The recording maker's damage mode puts 45 bytes of junk first, gives frame 3 type 2,
  // frame 5 a length over the limit and frame 6 a broken magic, and cuts the last payload.
  for (const char* name : {"tests/data/h264_320x240", "tests/data/jpeg_640x480"}) {
    SCOPED_TRACE(name);
    const auto whole =
        testsupport::ReadFileBytes(testsupport::SourcePath(name + std::string(".h264")));
    const auto damaged =
        testsupport::ReadFileBytes(testsupport::SourcePath(name + std::string("_damaged.h264")));
    ASSERT_FALSE(whole.empty());
    ASSERT_FALSE(damaged.empty());

    Walk good(whole);
    good.Run();
    EXPECT_EQ(good.observer.EndReason(), ReaderEnd::EndOfFile);
    const auto original = good.log->Inputs();
    ASSERT_GE(original.size(), 8u);

    Walk bad(damaged);
    bad.Run();
    EXPECT_EQ(bad.observer.EndReason(), ReaderEnd::CutShort);
    std::vector<std::vector<uint8_t>> expected;
    for (size_t i = 0; i + 1 < original.size(); ++i) {
      if (i != 3 && i != 5 && i != 6) expected.push_back(original[i].data);
    }
    std::vector<std::vector<uint8_t>> got;
    for (const auto& input : bad.log->Inputs()) got.push_back(input.data);
    EXPECT_EQ(got, expected);
    ASSERT_FALSE(bad.observer.Skips().empty());
    EXPECT_EQ(bad.observer.Skips()[0], (Skip{0, 45}));
  }
}

TEST(ReaderDamage, AFileThatShrinksWhilePlayingEndsTheReaderQuietly) {
  RecordingBuilder file;
  const int64_t f0 = file.Frame(FRAME_JPEG, 1, 1, 64);
  const int64_t f1 = file.Frame(FRAME_JPEG, 1, 2, 64);
  const int64_t f2 = file.Frame(FRAME_JPEG, 1, 3, 64);
  for (int i = 0; i < 3; ++i) file.Frame(FRAME_JPEG, 1, 4, 64);
  Walk walk(file.bytes);
  walk.observer.afterFrame = [&walk, f2](const ReaderFrame& frame) {
    if (frame.offset == 0) {
      EXPECT_EQ(truncate(walk.path.c_str(), f2 + 40), 0);
    }
  };
  walk.Run();
  // The stream's buffer may still hold bytes past the new end, but never a frame that the
  // file no longer has whole.
  const auto offsets = walk.observer.FrameOffsets();
  ASSERT_GE(offsets.size(), 2u);
  EXPECT_EQ(offsets[0], f0);
  EXPECT_EQ(offsets[1], f1);
  EXPECT_NE(walk.observer.EndReason(), ReaderEnd::Stopped);
}

// ---- The player ----------------------------------------------------------------------------

TEST(ReaderPlayer, IsMadeOnceByTheFirstFrameAndTakesFramesOfTheOtherKind) {
  struct Case {
    uint8_t first;
    uint8_t other;
    PlayerKind kind;
    std::vector<uint32_t> waitsBeforeHandOff;  // clock time between hand-offs
  };
  for (const Case& c : {Case{FRAME_H264_KEY, FRAME_JPEG, PlayerKind::H264, {0, 40, 40}},
                        Case{FRAME_JPEG, FRAME_H264_KEY, PlayerKind::Jpeg, {0, 200, 200}}}) {
    SCOPED_TRACE(static_cast<int>(c.first));
    RecordingBuilder file;
    file.Frame(c.first, 100, 100);
    file.Frame(c.other, 100, 140);
    file.Frame(c.first, 100, 180);
    Walk walk(file.bytes);
    walk.Run();
    EXPECT_EQ(walk.log->Made(), std::vector<PlayerKind>{c.kind});
    EXPECT_EQ(walk.log->Starts(), 1);
    const auto inputs = walk.log->Inputs();
    ASSERT_EQ(inputs.size(), 3u);
    for (size_t i = 1; i < inputs.size(); ++i) {
      EXPECT_EQ(inputs[i].tick - inputs[i - 1].tick, c.waitsBeforeHandOff[i]);
    }
  }
}

TEST(ReaderPlayer, APlayerThatCannotBeMadeEndsTheReaderAfterTheFileSize) {
  RecordingBuilder file;
  file.Frame(FRAME_H264_KEY, 1, 1);
  Walk walk(file.bytes);
  walk.context->createPlayer = [](PlayerKind, platform::Window*, platform::Window*) {
    return std::unique_ptr<CVideoPlayer>();
  };
  walk.Run();
  EXPECT_EQ(walk.observer.EndReason(), ReaderEnd::NoPlayer);
  EXPECT_EQ(walk.notify.MessagesOf(WM_PLAYER_FILESIZE).size(), 1u);
  EXPECT_TRUE(walk.notify.MessagesOf(WM_PLAYER_POSITION).empty());
}

// ---- Waiting -------------------------------------------------------------------------------

TEST(ReaderWait, SleepsToTheDeadlineInShortSlicesAcrossATickWrap) {
  FakeClock clock(0xFFFFFFFFu - 25);
  std::atomic<int32_t> running{1};
  EXPECT_EQ(WaitWhileRunning(clock, 1000, running), 1);
  const auto sleeps = clock.Sleeps();
  uint32_t total = 0;
  for (uint32_t slice : sleeps) {
    EXPECT_GT(slice, 0u);
    EXPECT_LE(slice, WAIT_SLICE_MS);
    total += slice;
  }
  EXPECT_EQ(total, 1000u);
}

TEST(ReaderWait, EndsWithinOneSliceOnceRunningIsCleared) {
  FakeClock clock;
  std::atomic<int32_t> running{1};
  clock.SetOnSleep([&] {
    if (clock.SleepCount() == 3) running.store(0);
  });
  EXPECT_EQ(WaitWhileRunning(clock, 1000, running), 0);
  EXPECT_EQ(clock.SleepCount(), 3u);

  FakeClock idle;
  EXPECT_EQ(WaitWhileRunning(idle, 1000, running), 0);
  EXPECT_EQ(idle.SleepCount(), 0u);
}

}  // namespace
