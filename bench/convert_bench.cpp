// Picture conversion beside libyuv's matching calls and a memcpy of the 32-bit picture, at
// three picture sizes, all in one run. libyuv's coefficients differ from ours, so it serves
// only as the speed reference. At the end a table gives each routine's median time over
// libyuv's and whether it meets its goal. Times are the thread's CPU time, which other work on a
// shared machine disturbs far less than the wall clock.
//
//   build/bench/convert_bench                      (7 repetitions, interleaved at random)
//   build/bench/convert_bench --benchmark_filter=1920x1080

#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "h264/yuv_convert.h"
#include "h264/yuv_convert_paths.h"

namespace {

struct Size {
  int width, height;
};

constexpr Size kSizes[] = {{1280, 720}, {1920, 1080}, {3840, 2160}};

std::string SizeName(Size s) {
  return std::to_string(s.width) + "x" + std::to_string(s.height);
}

struct AlignedFree {
  void operator()(uint8_t* p) const { std::free(p); }
};
using AlignedBytes = std::unique_ptr<uint8_t[], AlignedFree>;

AlignedBytes Allocate(size_t size) {
  return AlignedBytes(static_cast<uint8_t*>(std::aligned_alloc(64, (size + 63) / 64 * 64)));
}

// One decoded picture in the picture-buffer form, and a destination big enough for 32 bits.
struct Picture {
  Size size;
  AlignedBytes planes;
  AlignedBytes dst;
  const uint8_t* Y() const { return planes.get(); }
  const uint8_t* U() const { return planes.get() + size.width * size.height; }
  const uint8_t* V() const { return planes.get() + size.width * size.height * 5 / 4; }
};

Picture& PictureOf(Size size) {
  static std::map<int, Picture> pictures;
  auto it = pictures.find(size.width);
  if (it != pictures.end()) return it->second;
  const size_t pixels = static_cast<size_t>(size.width) * size.height;
  Picture picture{size, Allocate(pixels * 3 / 2), Allocate(pixels * 4)};
  std::mt19937 random(7);
  for (size_t i = 0; i < pixels * 3 / 2; ++i) picture.planes[i] = static_cast<uint8_t>(random());
  std::memset(picture.dst.get(), 0, pixels * 4);
  return pictures.emplace(size.width, std::move(picture)).first->second;
}

using Routine = void (*)(const Picture& p, int pitch);

struct Layout {
  const char* name;
  int bytesPerPixel;
  double goal;  // at most this many times libyuv's time
  yuvconvert::ConvertFunction (*pick)(const yuvconvert::ConvertFunctions&);
  Routine ours;
  Routine libyuv;
};

template <auto F>
void Ours(const Picture& p, int pitch) {
  const int w = p.size.width;
  F(p.Y(), w, p.U(), p.V(), w / 2, p.dst.get(), w, p.size.height, pitch);
}

template <auto F>
void Libyuv(const Picture& p, int pitch) {
  const int w = p.size.width;
  F(p.Y(), w, p.U(), w / 2, p.V(), w / 2, p.dst.get(), pitch, w, p.size.height);
}

const Layout kLayouts[] = {
    {"Rgb32", 4, 1.0, [](const yuvconvert::ConvertFunctions& f) { return f.rgb32; },
     Ours<Yuv420ToRgb32>, Libyuv<libyuv::I420ToARGB>},
    {"Rgb24", 3, 0.8, [](const yuvconvert::ConvertFunctions& f) { return f.rgb24; },
     Ours<Yuv420ToRgb24>, Libyuv<libyuv::I420ToRGB24>},
    {"Rgb565", 2, 0.8, [](const yuvconvert::ConvertFunctions& f) { return f.rgb565; },
     Ours<Yuv420ToRgb565>, Libyuv<libyuv::I420ToRGB565>},
    {"Rgb555", 2, 0.8, [](const yuvconvert::ConvertFunctions& f) { return f.rgb555; },
     Ours<Yuv420ToRgb555>, Libyuv<libyuv::I420ToARGB1555>},
};

void Register(const std::string& name, Size size, int bytesPerPixel,
              std::function<void(const Picture&, int)> run) {
  benchmark::RegisterBenchmark(name.c_str(), [size, bytesPerPixel, run](benchmark::State& state) {
    const Picture& picture = PictureOf(size);
    const int pitch = size.width * bytesPerPixel;
    for (auto _ : state) {
      run(picture, pitch);
      benchmark::DoNotOptimize(picture.dst.get());
      benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pitch) * size.height);
  })->Unit(benchmark::kMicrosecond);
}

void RegisterAll() {
  for (Size size : kSizes) {
    const std::string sizeName = SizeName(size);
    for (const Layout& layout : kLayouts) {
      const std::string base = std::string(layout.name) + "/" + sizeName + "/";
      Register(base + "quendrel", size, layout.bytesPerPixel, layout.ours);
      Register(base + "libyuv", size, layout.bytesPerPixel, layout.libyuv);
      // The paths that the processor could run but the routines do not pick, for comparison.
      for (auto path : {yuvconvert::ConvertPath::Sse2, yuvconvert::ConvertPath::Scalar}) {
        const yuvconvert::ConvertFunctions* functions = yuvconvert::FunctionsFor(path);
        if (!functions || functions == &yuvconvert::ActiveFunctions()) continue;
        if (size.width != 1920) continue;
        const yuvconvert::ConvertFunction f = layout.pick(*functions);
        Register(base + functions->name, size, layout.bytesPerPixel,
                 [f](const Picture& p, int pitch) {
                   const int w = p.size.width;
                   f(p.Y(), w, p.U(), p.V(), w / 2, p.dst.get(), w, p.size.height, pitch);
                 });
      }
    }
    // Moving the 32-bit picture's bytes, from a second buffer of that size.
    Register("memcpy32/" + sizeName + "/memcpy", size, 4, [](const Picture& p, int pitch) {
      static std::map<int, AlignedBytes> sources;
      AlignedBytes& source = sources[p.size.width];
      const size_t bytes = static_cast<size_t>(pitch) * p.size.height;
      if (!source) {
        source = Allocate(bytes);
        std::memset(source.get(), 1, bytes);
      }
      std::memcpy(p.dst.get(), source.get(), bytes);
    });
  }
}

// Keeps the console output and collects each benchmark's median for the closing table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    for (const Run& run : reports) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(reports);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nmedian CPU time in microseconds; ratio = quendrel / libyuv\n");
    std::printf("%-8s %-10s %10s %10s %10s %7s %7s  %s\n", "layout", "size", "quendrel", "libyuv",
                "memcpy32", "ratio", "goal", "");
    for (Size size : kSizes) {
      const std::string sizeName = SizeName(size);
      for (const Layout& layout : kLayouts) {
        const std::string base = std::string(layout.name) + "/" + sizeName + "/";
        const auto ours = medians.find(base + "quendrel");
        const auto reference = medians.find(base + "libyuv");
        if (ours == medians.end() || reference == medians.end()) continue;
        const auto copy = medians.find("memcpy32/" + sizeName + "/memcpy");
        const double ratio = ours->second / reference->second;
        // The 32-bit goal holds for the two smaller sizes only.
        const bool hasGoal = layout.goal < 1.0 || size.width < 3840;
        std::printf("%-8s %-10s %10.1f %10.1f %10.1f %7.3f %7s  %s\n", layout.name,
                    sizeName.c_str(), ours->second, reference->second,
                    copy == medians.end() ? 0.0 : copy->second, ratio,
                    hasGoal ? (layout.goal < 1.0 ? "0.8" : "1.0") : "-",
                    hasGoal ? (ratio <= layout.goal ? "met" : "MISSED") : "");
        for (const auto& [name, median] : medians) {
          if (name.rfind(base, 0) != 0 || name == base + "quendrel" || name == base + "libyuv") {
            continue;
          }
          std::printf("%-8s %-10s %10.1f %10s %10s %7.3f  (%s path)\n", layout.name,
                      sizeName.c_str(), median, "", "", median / reference->second,
                      name.c_str() + base.size());
        }
      }
    }
  }

 private:
  std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
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
  RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                               : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
