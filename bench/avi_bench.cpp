// What a recording costs at 1920 x 1080: the recorder thread's CPU time per second of
// recording (taking frames from its queue, writing samples and empty samples, completing the
// file) beside the plain write() of the same payloads to a file, in the same process; and the
// file's bytes over the payload bytes (container overhead). Time on the recorder's clock is
// simulated, so ten seconds of recording run as fast as the writing goes.
//
// Counters: recorder_ms_per_s and raw_write_ms_per_s (CPU ms per recorded second),
// ratio_to_raw_write, and file_over_payload (1.0 would be no overhead at all).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "record/avi_recorder.h"

namespace {

constexpr int RECORDED_SECONDS = 10;
constexpr int SAMPLES = RECORDED_SECONDS * 50;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Stream {
  const char* name;
  int samplesPerFrame;  // 2: 25 pictures per second
  uint32_t frameBytes;
  uint32_t keyFrameBytes;
  int keyInterval;  // in frames
  int32_t codecKind;
};

// A 1080p camera stream at about 4 Mbit/s with a key frame every two seconds, and a JPEG
// stream at 5 pictures per second.
constexpr Stream kStreams[] = {
    {"h264_1080p_25fps", 2, 18000, 120000, 50, AVI_CODEC_H264},
    {"jpeg_1080p_5fps", 10, 260000, 260000, 1, AVI_CODEC_JPEG},
};

struct Frame {
  std::vector<uint8_t> bytes;
  uint32_t keyFlag;
};

std::vector<Frame> MakeFrames(const Stream& stream) {
  std::vector<Frame> frames;
  uint32_t x = 7;
  for (int n = 0; n < SAMPLES; n += stream.samplesPerFrame) {
    const int index = n / stream.samplesPerFrame;
    const bool key = index % stream.keyInterval == 0;
    // Sizes vary around the mean, odd ones included, as real frames do.
    const uint32_t size = (key ? stream.keyFrameBytes : stream.frameBytes) + (index * 37) % 2001;
    Frame frame{std::vector<uint8_t>(size), key ? 1u : 0u};
    for (auto& b : frame.bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    frames.push_back(std::move(frame));
  }
  return frames;
}

// The recorder's clock: every pacing sleep is one sample, and the next frame is pushed into
// the recorder's queue while the recorder "sleeps", as a decode thread would push it. The CPU
// spent pushing is counted apart, so that only the recorder's own work is measured.
class FeedingClock : public platform::Clock {
 public:
  FeedingClock(CAviRecorder* recorder, const std::vector<Frame>& frames, int samplesPerFrame)
      : recorder(recorder), frames(frames), samplesPerFrame(samplesPerFrame) {}

  uint32_t TickMs() override { return now; }

  void SleepMs(uint32_t ms) override {
    const double enter = ThreadCpuSeconds();
    now += ms;
    if (ms == AVI_IDLE_POLL_MS && samples == 0 && next == 0) {
      Push();  // the first frame arrives while the recorder waits for a key frame
    } else if (++samples < SAMPLES) {
      if (samples % samplesPerFrame == 0) Push();
    } else {
      std::unique_lock<std::mutex> lock(mutex);
      done = true;
      changed.notify_all();
      changed.wait(lock, [&] { return recorder->running.load() == 0; });
    }
    feedSeconds += ThreadCpuSeconds() - enter;
  }

  void WaitDone() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return done; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    recorder->running.store(0);
    changed.notify_all();
  }

  double feedSeconds = 0;

 private:
  void Push() {
    if (next >= frames.size()) return;
    const Frame& f = frames[next++];
    recorder->frameQueue->Push(static_cast<int32_t>(f.bytes.size()), f.bytes.data(), f.keyFlag, 0,
                               1920, 1080);
  }

  CAviRecorder* recorder;
  const std::vector<Frame>& frames;
  const int samplesPerFrame;
  uint32_t now = 1000;
  int samples = 0;
  size_t next = 0;
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
};

void BM_Recording(benchmark::State& state) {
  const Stream& stream = kStreams[state.range(0)];
  state.SetLabel(stream.name);
  const std::vector<Frame> frames = MakeFrames(stream);
  uint64_t payloadBytes = 0;
  for (const Frame& f : frames) payloadBytes += f.bytes.size();
  const std::string dir = std::filesystem::temp_directory_path().string();
  const std::string aviPath = dir + "/quendrel-avi-bench.avi";
  const std::string rawPath = dir + "/quendrel-avi-bench.raw";

  double recorderSeconds = 0, rawSeconds = 0;
  uint64_t fileBytes = 0;
  for (auto _ : state) {
    std::unique_ptr<CAviRecorder> recorder = CreateRecorder();
    FeedingClock clock(recorder.get(), frames, stream.samplesPerFrame);
    recorder->clock = &clock;
    // The main thread only waits; the process's CPU time is the recorder thread's.
    const double start = ProcessCpuSeconds();
    StartRecorderThread(recorder.get(), aviPath, stream.codecKind);
    clock.WaitDone();
    clock.Release();
    DestroyRecorder(std::move(recorder));
    const double recorderCpu = ProcessCpuSeconds() - start - clock.feedSeconds;
    state.SetIterationTime(recorderCpu);
    recorderSeconds += recorderCpu;
    fileBytes = std::filesystem::file_size(aviPath);

    // Reference: the same payloads written with one write() each.
    const double rawStart = ThreadCpuSeconds();
    const int fd = open(rawPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (const Frame& f : frames) {
      if (write(fd, f.bytes.data(), f.bytes.size()) != static_cast<ssize_t>(f.bytes.size())) {
        state.SkipWithError("raw write failed");
      }
    }
    close(fd);
    rawSeconds += ThreadCpuSeconds() - rawStart;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["recorder_ms_per_s"] = recorderSeconds * 1000 / iterations / RECORDED_SECONDS;
  state.counters["raw_write_ms_per_s"] = rawSeconds * 1000 / iterations / RECORDED_SECONDS;
  state.counters["ratio_to_raw_write"] = recorderSeconds / rawSeconds;
  state.counters["file_over_payload"] = double(fileBytes) / double(payloadBytes);
  std::filesystem::remove(aviPath);
  std::filesystem::remove(rawPath);
}
BENCHMARK(BM_Recording)
    ->ArgName("stream")
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
