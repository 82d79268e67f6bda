// What a seek costs in a 1 GiB recording: the reader's seek scan to the last key frame (it
// reads every header from byte 0 and skips each payload, a small one by reading through the
// stream's buffer, a larger one with one file seek) beside a plain sequential read of the
// file that looks at the same headers at offsets known beforehand, in the same process,
// which bounds what any scan without an index can do; and the reader loop's walk of the
// whole recording with waits counted instead of slept and a player that drops every frame.
//
// The recording is the H.264 fixture repeated to 1 GiB, made in a temporary folder once per
// run (it is removed at exit). Counters: scan_ms and bound_ms per seek, ratio_to_bound,
// headers; frames_per_s and MiB_per_s of the walk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "input/frame_header.h"
#include "input/playback_context.h"
#include "input/reader.h"

namespace {

constexpr int64_t RECORDING_BYTES = int64_t{1} << 30;

struct Recording {
  std::string dir;
  std::string path;
  std::vector<int64_t> headerOffsets;  // every frame, in file order
  int64_t lastKeyOffset = -1;
  int64_t lastKeyEnd = -1;
  bool ok = false;

  Recording() = default;
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;
  ~Recording() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
};

// Repeats the fixture until the file holds 1 GiB, noting where each frame begins.
void Build(Recording& r) {
  const std::vector<uint8_t> fixture = testsupport::ReadFileBytes(
      std::string(QUENDREL_SOURCE_DIR) + "/tests/data/h264_320x240.h264");
  std::string pattern =
      (std::filesystem::temp_directory_path() / "quendrel-seek-bench-XXXXXX").string();
  if (fixture.empty() || mkdtemp(pattern.data()) == nullptr) return;
  r.dir = pattern;
  r.path = r.dir + "/large.h264";
  std::vector<std::pair<int64_t, FrameHeader>> frames;  // offsets within the fixture
  for (int64_t at = 0; at + FRAME_HEADER_SIZE <= static_cast<int64_t>(fixture.size());) {
    const FrameHeader header = ParseFrameHeader(fixture.data() + at);
    if (!IsValidFrameHeader(header)) break;
    frames.emplace_back(at, header);
    at += FRAME_HEADER_SIZE + header.dataLength;
  }
  FILE* out = std::fopen(r.path.c_str(), "wb");
  if (out == nullptr) return;
  if (frames.empty()) {
    std::fclose(out);
    return;
  }
  int64_t base = 0;
  while (base < RECORDING_BYTES) {
    if (std::fwrite(fixture.data(), 1, fixture.size(), out) != fixture.size()) break;
    for (const auto& [at, header] : frames) {
      r.headerOffsets.push_back(base + at);
      if (header.frameType == FRAME_H264_KEY) {
        r.lastKeyOffset = base + at;
        r.lastKeyEnd = base + at + FRAME_HEADER_SIZE + header.dataLength;
      }
    }
    base += static_cast<int64_t>(fixture.size());
  }
  r.ok = std::fclose(out) == 0 && base >= RECORDING_BYTES;
}

const Recording& TheRecording() {
  static Recording recording;
  static const bool built = (Build(recording), true);
  static_cast<void>(built);
  return recording;
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Reads the file from byte 0 to the last key frame in large sequential reads and looks at
// every header on the way, at offsets known beforehand: what any scan without an index must
// at the least do. Returns the number of key frames seen.
int64_t ReadHeadersSequentially(const Recording& r) {
  const int fd = open(r.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  constexpr size_t kChunk = 1 << 20;
  static std::vector<uint8_t> chunk(kChunk);
  uint8_t header[FRAME_HEADER_SIZE];
  size_t next = 0;     // index of the next header to look at
  size_t carried = 0;  // bytes of that header taken from the previous chunk
  int64_t keyFrames = 0;
  int64_t chunkStart = 0;
  while (next < r.headerOffsets.size() && r.headerOffsets[next] <= r.lastKeyOffset) {
    const ssize_t got = read(fd, chunk.data(), kChunk);
    if (got <= 0) break;
    const int64_t chunkEnd = chunkStart + got;
    while (next < r.headerOffsets.size() && r.headerOffsets[next] < chunkEnd) {
      const int64_t from = r.headerOffsets[next] + static_cast<int64_t>(carried);
      const size_t take =
          static_cast<size_t>(std::min<int64_t>(FRAME_HEADER_SIZE - carried, chunkEnd - from));
      std::memcpy(header + carried, chunk.data() + (from - chunkStart), take);
      carried += take;
      if (carried < FRAME_HEADER_SIZE) break;  // the rest is in the next chunk
      keyFrames += ParseFrameHeader(header).frameType == FRAME_H264_KEY ? 1 : 0;
      carried = 0;
      ++next;
    }
    chunkStart = chunkEnd;
  }
  close(fd);
  return keyFrames;
}

void BM_SeekToLastKeyFrame(benchmark::State& state) {
  const Recording& r = TheRecording();
  if (!r.ok) {
    state.SkipWithError("cannot build the 1 GiB recording");
    return;
  }
  std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(r.path);
  context->running.store(1);
  double scanMs = 0;
  double boundMs = 0;
  for (auto _ : state) {
    int64_t length = 0;
    FILE* file = OpenRecording(r.path, &length);
    const auto start = std::chrono::steady_clock::now();
    const int64_t landing = SeekKeyFrame(file, r.lastKeyEnd, *context);
    const auto scanned = std::chrono::steady_clock::now();
    std::fclose(file);
    if (landing != r.lastKeyOffset) {
      state.SkipWithError("the seek landed elsewhere");
      return;
    }
    const auto boundStart = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(ReadHeadersSequentially(r));
    const auto boundEnd = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(scanned - start).count());
    scanMs += Milliseconds(scanned - start);
    boundMs += Milliseconds(boundEnd - boundStart);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["scan_ms"] = scanMs / n;
  state.counters["bound_ms"] = boundMs / n;
  state.counters["ratio_to_bound"] = scanMs / boundMs;
  state.counters["headers"] = static_cast<double>(r.headerOffsets.size());
}
BENCHMARK(BM_SeekToLastKeyFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3);

using platform::CountingClock;

class DroppingPlayer final : public CVideoPlayer {
 public:
  DroppingPlayer() : CVideoPlayer(nullptr) {}
  int Start() override { return 1; }
  int InputData(const uint8_t*, int32_t length, uint32_t, uint32_t) override {
    bytes += length;
    ++frames;
    return 1;
  }
  void DecodeLoop() override {}
  int Refresh() override { return 1; }
  int Snapshot(const std::string&) override { return 0; }
  int StartRecord(const std::string&) override { return 0; }

  static inline int64_t frames = 0;
  static inline int64_t bytes = 0;
};

void BM_WalkWholeRecording(benchmark::State& state) {
  const Recording& r = TheRecording();
  if (!r.ok) {
    state.SkipWithError("cannot build the 1 GiB recording");
    return;
  }
  int64_t frames = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    CountingClock clock;
    std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(r.path);
    context->clock = &clock;
    context->fast.store(1);
    context->createPlayer = [](PlayerKind, platform::Window*, platform::Window*) {
      return std::unique_ptr<CVideoPlayer>(new DroppingPlayer);
    };
    context->running.store(1);
    DroppingPlayer::frames = 0;
    DroppingPlayer::bytes = 0;
    ReadFrames(*context);
    frames += DroppingPlayer::frames;
    bytes += DroppingPlayer::bytes;
  }
  if (frames / static_cast<int64_t>(state.iterations()) !=
      static_cast<int64_t>(r.headerOffsets.size())) {
    state.SkipWithError("the walk missed frames");
    return;
  }
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["MiB_per_s"] =
      benchmark::Counter(static_cast<double>(bytes) / (1 << 20), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WalkWholeRecording)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
