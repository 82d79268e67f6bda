#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "input/reader.h"
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

struct FileCloser {
  void operator()(FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// ---- Where a seek lands --------------------------------------------------------------------

// K0 [0,132)  N1 [132,264)  junk [264,300)  K2 [300,432)  N3 [432,564)  J4 [564,696)
// N5 [696,828): each frame has a 100-byte payload.
struct SeekFile {
  SeekFile() {
    k0 = file.Frame(FRAME_H264_KEY, 1, 1, 100);
    n1 = file.Frame(FRAME_H264_NONKEY, 1, 2, 100);
    file.Raw(std::vector<uint8_t>(36, 0x11));
    k2 = file.Frame(FRAME_H264_KEY, 1, 3, 100);
    n3 = file.Frame(FRAME_H264_NONKEY, 1, 4, 100);
    j4 = file.Frame(FRAME_JPEG, 1, 5, 100);
    n5 = file.Frame(FRAME_H264_NONKEY, 1, 6, 100);
  }
  RecordingBuilder file;
  int64_t k0, n1, k2, n3, j4, n5;
};

struct LandingCase {
  const char* name;
  int64_t target;
  int64_t landing;
};

void PrintTo(const LandingCase& c, std::ostream* os) {
  *os << c.name;
}

class SeekLanding : public ::testing::TestWithParam<LandingCase> {};

TEST_P(SeekLanding, ResumesAtTheFirstKeyOrJpegFrameEndingAtOrAfterTheTarget) {
  SeekFile layout;
  ASSERT_EQ(layout.k2, 300);
  ASSERT_EQ(layout.j4, 564);
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("seek.h264"), layout.file.bytes));
  FilePtr file(std::fopen(dir.File("seek.h264").c_str(), "rb"));
  ASSERT_TRUE(file);
  // Somewhere in the middle, as during playback.
  ASSERT_EQ(fseeko(file.get(), 432, SEEK_SET), 0);
  auto context = CreatePlaybackContext("unused");
  context->running.store(1);

  const LandingCase& c = GetParam();
  EXPECT_EQ(SeekKeyFrame(file.get(), c.target, *context), c.landing);
  if (c.landing >= 0) {
    EXPECT_EQ(ftello(file.get()), c.landing);  // left at the header to read next
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SeekLanding,
    ::testing::Values(
        LandingCase{"zero", 0, 0}, LandingCase{"negative", -5, 0}, LandingCase{"firstByte", 1, 0},
        LandingCase{"keyFrameEndingRightBeforeTheTarget", 132, 0},
        LandingCase{"pastItPassesTheNonKeyAndTheJunk", 133, 300},
        LandingCase{"insideAKeyFrame", 350, 300}, LandingCase{"atTheEndOfAKeyFrame", 432, 300},
        LandingCase{"nextIsAJpegFrame", 433, 564}, LandingCase{"atTheEndOfTheJpegFrame", 696, 564},
        LandingCase{"onlyNonKeyFramesLeft", 697, -1},
        LandingCase{"pastTheEndOfTheFile", 100000, -1}),
    [](const ::testing::TestParamInfo<LandingCase>& info) { return info.param.name; });

TEST(SeekLanding, AStoppedContextDoesNotScan) {
  SeekFile layout;
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.File("seek.h264"), layout.file.bytes));
  FilePtr file(std::fopen(dir.File("seek.h264").c_str(), "rb"));
  ASSERT_TRUE(file);
  auto context = CreatePlaybackContext("unused");
  EXPECT_EQ(SeekKeyFrame(file.get(), 350, *context), -1);
  EXPECT_EQ(SeekKeyFrame(file.get(), 0, *context), 0);
}

// ---- Scans that would never end ------------------------------------------------------------

// A stream without end, made up by a read function: either valid zero-length non-key frames
// or zero bytes. It clears running after `stopAfter` bytes and counts what is read after that.
struct EndlessSource {
  bool frames = true;
  int64_t position = 0;
  int64_t stopAfter = 0;
  int64_t readAfterStop = 0;
  std::atomic<int32_t>* running = nullptr;

  uint8_t ByteAt(int64_t at) const {
    if (!frames) return 0;
    static const std::vector<uint8_t> header = [] {
      std::vector<uint8_t> bytes(FRAME_HEADER_SIZE);
      SerializeFrameHeader(MakeHeader(FRAME_H264_NONKEY, 0), bytes.data());
      return bytes;
    }();
    return header[static_cast<size_t>(at % FRAME_HEADER_SIZE)];
  }

  static ssize_t Read(void* cookie, char* buffer, size_t size) {
    auto* self = static_cast<EndlessSource*>(cookie);
    // A guard for a scan that does not stop: the data ends, so the test ends and fails.
    if (self->readAfterStop > (int64_t{64} << 20)) return 0;
    for (size_t i = 0; i < size; ++i)
      buffer[i] = static_cast<char>(self->ByteAt(self->position + i));
    self->position += static_cast<int64_t>(size);
    if (self->position >= self->stopAfter) {
      self->running->store(0);
      self->readAfterStop += static_cast<int64_t>(size);
    }
    return static_cast<ssize_t>(size);
  }

  static int Seek(void* cookie, off64_t* offset, int whence) {
    auto* self = static_cast<EndlessSource*>(cookie);
    if (whence == SEEK_SET) {
      self->position = *offset;
    } else if (whence == SEEK_CUR) {
      self->position += *offset;
    } else {
      return -1;  // no end to seek to
    }
    *offset = self->position;
    return 0;
  }

  FilePtr Open() {
    cookie_io_functions_t io{};
    io.read = &EndlessSource::Read;
    io.seek = &EndlessSource::Seek;
    return FilePtr(fopencookie(this, "rb", io));
  }
};

TEST(SeekCancel, AScanThroughEndlessFramesStopsSoonAfterRunningIsCleared) {
  auto context = CreatePlaybackContext("unused");
  context->running.store(1);
  EndlessSource source;
  source.stopAfter = 1 << 20;
  source.running = &context->running;
  FilePtr file = source.Open();
  ASSERT_TRUE(file);
  EXPECT_EQ(SeekKeyFrame(file.get(), INT64_MAX, *context), -1);
  // A header or two, plus one stream buffer.
  EXPECT_LT(source.readAfterStop, 64 * 1024);
}

TEST(SeekCancel, AMagicSearchThroughEndlessZerosStopsSoonAfterRunningIsCleared) {
  std::atomic<int32_t> running{1};
  EndlessSource source;
  source.frames = false;
  source.stopAfter = 1 << 20;
  source.running = &running;
  FilePtr file = source.Open();
  ASSERT_TRUE(file);
  ASSERT_EQ(fseeko(file.get(), FRAME_HEADER_SIZE, SEEK_SET), 0);
  EXPECT_EQ(FindNextMagic(file.get(), FRAME_HEADER_SIZE, &running), 0);
  EXPECT_LT(source.readAfterStop, 256 * 1024);

  // The seek scan falls into the same search when the file starts with junk.
  auto context = CreatePlaybackContext("unused");
  context->running.store(1);
  EndlessSource zeros;
  zeros.frames = false;
  zeros.stopAfter = 1 << 20;
  zeros.running = &context->running;
  FilePtr zeroFile = zeros.Open();
  ASSERT_TRUE(zeroFile);
  EXPECT_EQ(SeekKeyFrame(zeroFile.get(), 1000, *context), -1);
  EXPECT_LT(zeros.readAfterStop, 256 * 1024);
}

// ---- Recordings of 2 GiB and more ----------------------------------------------------------

// A sparse file: frames of the largest payload chain from byte 0 to past 4 GiB, so only
// their headers take disk blocks. Key frames stand at 0, past 2 GiB and shortly before a
// hole of zeros past 4 GiB; the last key frame follows the hole.
class LargeRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.File("large.h264");
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    int64_t at = 0;
    auto put = [&](const FrameHeader& header, const std::vector<uint8_t>& payload) {
      uint8_t raw[FRAME_HEADER_SIZE];
      SerializeFrameHeader(header, raw);
      EXPECT_EQ(pwrite(fd, raw, sizeof raw, at), static_cast<ssize_t>(sizeof raw));
      if (!payload.empty()) {
        EXPECT_EQ(pwrite(fd, payload.data(), payload.size(), at + FRAME_HEADER_SIZE),
                  static_cast<ssize_t>(payload.size()));
      }
      at += FRAME_HEADER_SIZE + static_cast<int64_t>(payload.size()) +
            (payload.empty() ? header.dataLength : 0);
    };
    const FrameHeader key = MakeHeader(FRAME_H264_KEY, 8);
    const FrameHeader filler = MakeHeader(FRAME_H264_NONKEY, MAX_FRAME_LENGTH);
    auto fillTo = [&](int64_t limit) {
      while (at < limit) put(filler, {});
    };
    put(key, payloadA);
    fillTo((int64_t{1} << 31) + 4096);
    past2GiB = at;
    put(key, payloadB);
    fillTo((int64_t{1} << 32) + 100000);
    beforeJunk = at;
    put(key, payloadA);
    junkAt = at;
    at += 5000;  // a hole of zeros: reading resynchronises through it
    past4GiB = at;
    put(key, payloadC);
    lastEnd = at;
    fileLength = at + 65536;  // and a hole at the end
    EXPECT_EQ(ftruncate(fd, fileLength), 0);
    close(fd);
    ASSERT_GT(past2GiB, int64_t{1} << 31);
    ASSERT_GT(past4GiB, int64_t{1} << 32);
    ASSERT_GE(fileLength, int64_t{3} << 30);
  }

  testsupport::TempDir dir;
  std::string path;
  int64_t past2GiB = 0, beforeJunk = 0, junkAt = 0, past4GiB = 0, lastEnd = 0, fileLength = 0;
  const std::vector<uint8_t> payloadA{1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<uint8_t> payloadB{'p', 'a', 's', 't', ' ', '2', 'G', 'B'};
  const std::vector<uint8_t> payloadC{'p', 'a', 's', 't', ' ', '4', 'G', 'B'};
};

TEST_F(LargeRecording, IsWalkedSoughtAndHandedOnAtItsTrueOffsets) {
  FakeClock clock;
  auto log = std::make_shared<PlayerLog>();
  platform::MemoryWindow notify(0, 0);
  RecordingObserver observer;
  auto context = CreatePlaybackContext(path);
  context->createPlayer = FakePlayerFactory(log, &clock);
  context->clock = &clock;
  context->notifyWindow = &notify;
  context->observer = &observer;
  context->running.store(1);
  // Past the key frame beyond 2 GiB, seek to the one beyond 4 GiB.
  observer.afterFrame = [&](const ReaderFrame& frame) {
    if (frame.offset == past2GiB) {
      context->seekTarget.store(past4GiB + 10);
      context->seekRequested.store(1, std::memory_order_release);
    }
  };
  ReadFrames(*context);

  const auto sizes = notify.MessagesOf(WM_PLAYER_FILESIZE);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(sizes[0].wParam, static_cast<uint64_t>(fileLength));

  // The walk: the first key frame, every filler up to 2 GiB, the key frame past 2 GiB; then
  // the seek lands on the key frame past 4 GiB, found through the hole before it.
  const auto frames = observer.Frames();
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[0].offset, 0);
  EXPECT_EQ(frames[frames.size() - 2].offset, past2GiB);
  EXPECT_EQ(frames.back().offset, past4GiB);
  const auto inputs = log->Inputs();
  ASSERT_EQ(inputs.size(), frames.size());
  EXPECT_EQ(inputs[inputs.size() - 2].data, payloadB);
  EXPECT_EQ(inputs.back().data, payloadC);

  const auto positions = notify.MessagesOf(WM_PLAYER_POSITION);
  ASSERT_EQ(positions.size(), frames.size());
  EXPECT_EQ(positions.back().wParam, static_cast<uint64_t>(lastEnd));
  // Then the hole at the end: searched to the end of the file.
  EXPECT_EQ(observer.EndReason(), ReaderEnd::NoFurtherMagic);
}

TEST_F(LargeRecording, ReadingResynchronisesPastFourGigabytes) {
  FakeClock clock;
  auto log = std::make_shared<PlayerLog>();
  RecordingObserver observer;
  auto context = CreatePlaybackContext(path);
  context->createPlayer = FakePlayerFactory(log, &clock);
  context->clock = &clock;
  context->observer = &observer;
  context->running.store(1);
  context->seekTarget.store(beforeJunk + 1);
  context->seekRequested.store(1);
  ReadFrames(*context);

  EXPECT_EQ(observer.FrameOffsets(), (std::vector<int64_t>{beforeJunk, past4GiB}));
  EXPECT_EQ(observer.Skips(),
            (std::vector<RecordingObserver::Skip>{{junkAt, past4GiB}, {lastEnd, fileLength}}));
  EXPECT_EQ(log->Inputs().back().data, payloadC);
}

}  // namespace
