// The JPEG player's whole draw of one picture (decode, stretch over a 1280 x 720 client
// area, capture time, one copy to the window) beside a plain TurboJPEG decode of the same
// picture to 32-bit pixels at its own size, in the same run. Goal: draw <= 1.5 x decode.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "jpeg/jpeg_player.h"
#include "platform/jpeg_codec.h"
#include "platform/memory_window.h"

namespace {

constexpr int32_t WINDOW_WIDTH = 1280;
constexpr int32_t WINDOW_HEIGHT = 720;
constexpr double GOAL = 1.5;

struct Size {
  int32_t width;
  int32_t height;
};
constexpr Size kSizes[] = {{640, 480}, {1920, 1080}};

std::string SizeName(Size size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// A camera-like picture: soft gradients, colour bars, hard edges and sensor noise, so the
// entropy data is about as dense as a real recording's at quality 85.
std::vector<uint8_t> MakeCameraLikeJpeg(Size size) {
  std::vector<uint8_t> pixels(static_cast<size_t>(size.width) * size.height * 4);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < size.height; ++y) {
    for (int32_t x = 0; x < size.width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>((seed >> 24) % 21) - 10;
      int r = 255 * x / size.width, g = 255 * y / size.height, b = 128;
      if (y > size.height / 2) {
        const int bar = 8 * x / size.width;
        r = (bar & 1) ? 230 : 30;
        g = (bar & 2) ? 230 : 30;
        b = (bar & 4) ? 230 : 30;
      }
      uint8_t* p = pixels.data() + (static_cast<size_t>(y) * size.width + x) * 4;
      p[0] = static_cast<uint8_t>(std::clamp(b + noise, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(g + noise, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(r + noise, 0, 255));
      p[3] = 0;
    }
  }
  const std::string path =
      (std::filesystem::temp_directory_path() / ("quendrel-jpeg-bench-" + SizeName(size) + ".jpg"))
          .string();
  const platform::PixelView view{pixels.data(), size.width * 4, size.width, size.height,
                                 platform::PixelFormat::Rgb32};
  std::vector<uint8_t> jpeg;
  if (platform::WriteJpegFile(view, 85, path)) jpeg = testsupport::ReadFileBytes(path);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return jpeg;
}

const std::vector<uint8_t>& JpegOf(Size size) {
  static std::map<int32_t, std::vector<uint8_t>> made;
  std::vector<uint8_t>& jpeg = made[size.width];
  if (jpeg.empty()) jpeg = MakeCameraLikeJpeg(size);
  return jpeg;
}

void TurboJpegDecode(benchmark::State& state, Size size) {
  const std::vector<uint8_t>& jpeg = JpegOf(size);
  tjhandle handle = tjInitDecompress();
  std::vector<uint8_t> pixels(static_cast<size_t>(size.width) * size.height * 4);
  for (auto _ : state) {
    if (tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), size.width, size.width * 4,
                      size.height, TJPF_BGRX, 0) != 0) {
      state.SkipWithError("the reference decode failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  tjDestroy(handle);
  state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
}

void QuendrelDraw(benchmark::State& state, Size size) {
  const std::vector<uint8_t>& jpeg = JpegOf(size);
  platform::MemoryWindow notify(1, 1);
  platform::MemoryWindow video(WINDOW_WIDTH, WINDOW_HEIGHT);
  CJPEGPlayer player(&notify, &video);
  for (auto _ : state) {
    player.DrawJpeg(jpeg.data(), static_cast<int32_t>(jpeg.size()), 1773480413);
  }
  if (video.PresentCount() != static_cast<uint64_t>(state.iterations())) {
    state.SkipWithError("not every draw reached the window");
  }
}

// Our decode alone, at the scale the draw chooses for the window.
void QuendrelDecode(benchmark::State& state, Size size) {
  const std::vector<uint8_t>& jpeg = JpegOf(size);
  for (auto _ : state) {
    platform::DecodedImage image =
        platform::DecodeJpeg(jpeg.data(), jpeg.size(), WINDOW_WIDTH, WINDOW_HEIGHT);
    benchmark::DoNotOptimize(image.pixels.data());
  }
}

void RegisterAll() {
  for (Size size : kSizes) {
    const std::string base = "jpeg/" + SizeName(size) + "/";
    benchmark::RegisterBenchmark((base + "turbojpeg").c_str(), TurboJpegDecode, size)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((base + "draw").c_str(), QuendrelDraw, size)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((base + "decode").c_str(), QuendrelDecode, size)
        ->Unit(benchmark::kMicrosecond);
  }
}

// Keeps the console output and collects each benchmark's median for the closing table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    for (const Run& run : reports) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      }
    }
    ConsoleReporter::ReportRuns(reports);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    // CPU time beside wall time: on a machine shared with other work the wall time of a
    // single-threaded loop says more about the neighbours than about the code.
    std::printf(
        "\nmedians in microseconds (wall / cpu) into a %dx%d window; "
        "ratio = draw / turbojpeg\n",
        WINDOW_WIDTH, WINDOW_HEIGHT);
    std::printf("%-10s %17s %17s %17s %13s %5s\n", "picture", "turbojpeg", "draw", "decode",
                "ratio", "goal");
    for (Size size : kSizes) {
      const std::string base = "jpeg/" + SizeName(size) + "/";
      const auto reference = medians.find(base + "turbojpeg");
      const auto draw = medians.find(base + "draw");
      const auto decode = medians.find(base + "decode");
      if (reference == medians.end() || draw == medians.end()) continue;
      const Times none{0.0, 0.0};
      const Times& d = decode == medians.end() ? none : decode->second;
      const double wallRatio = draw->second.wall / reference->second.wall;
      const double cpuRatio = draw->second.cpu / reference->second.cpu;
      std::printf("%-10s %8.1f/%8.1f %8.1f/%8.1f %8.1f/%8.1f %6.2f/%6.2f %5.1f  %s\n",
                  SizeName(size).c_str(), reference->second.wall, reference->second.cpu,
                  draw->second.wall, draw->second.cpu, d.wall, d.cpu, wallRatio, cpuRatio, GOAL,
                  std::max(wallRatio, cpuRatio) <= GOAL ? "met" : "MISSED");
    }
  }

 private:
  struct Times {
    double wall;
    double cpu;
  };
  std::map<std::string, Times> medians;
};

}  // namespace

int main(int argc, char** argv) {
  // The capture time needs fonts, and fonts need an application object.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  // Defaults come first so that the same flags given on the command line override them.
  std::vector<char*> args = {argv[0]};
  std::string defaults[] = {"--benchmark_repetitions=7", "--benchmark_min_time=0.2",
                            "--benchmark_report_aggregates_only=true",
                            "--benchmark_enable_random_interleaving=true"};
  for (std::string& d : defaults) args.push_back(d.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  RegisterAll();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
