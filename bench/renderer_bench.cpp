// What one shown picture costs: DrawPicture (conversion into the surface, overlay text,
// stretch into the window) beside the conversion alone, in the same process. The counter
// ratio_to_convert is the draw's time over the conversion's for the same picture, both as
// this thread's processor time so that other work on a shared machine does not count; the
// goal is at most 3.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdint>
#include <ctime>
#include <vector>

#include "h264/ddraw_renderer.h"
#include "h264/yuv_convert.h"
#include "platform/display.h"
#include "platform/memory_window.h"

namespace {

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct Picture {
  int32_t width, height;
  std::vector<uint8_t> data;
  explicit Picture(int32_t w, int32_t h) : width(w), height(h), data(size_t(w) * h * 3 / 2) {
    // Moving gradients, so no branch or cache sees a flat picture.
    for (size_t i = 0; i < size_t(w) * h; ++i) data[i] = uint8_t(16 + (i * 7 + i / w) % 220);
    for (size_t i = size_t(w) * h; i < data.size(); ++i) data[i] = uint8_t(64 + (i * 3) % 128);
  }
  const uint8_t* Y() const { return data.data(); }
  const uint8_t* U() const { return Y() + width * height; }
  const uint8_t* V() const { return U() + (width / 2) * (height / 2); }
};

// The conversion alone, into rows laid out as the surface lays them out.
struct Converter {
  int32_t pitch;
  std::vector<uint8_t> surface;
  explicit Converter(const Picture& p)
      : pitch((p.width * 4 + 63) / 64 * 64), surface(size_t(pitch) * p.height) {}
  void Run(const Picture& p) {
    Yuv420ToRgb32(p.Y(), p.width, p.U(), p.V(), p.width / 2, surface.data(), p.width, p.height,
                  pitch);
    benchmark::DoNotOptimize(surface.data());
  }
};

void BM_ConvertOnly(benchmark::State& state) {
  const Picture picture(int32_t(state.range(0)), int32_t(state.range(1)));
  Converter converter(picture);
  for (auto _ : state) converter.Run(picture);
}

void BM_DrawPicture(benchmark::State& state) {
  platform::SetDisplayPixelFormat(platform::PixelFormat::Rgb32);
  const Picture picture(int32_t(state.range(0)), int32_t(state.range(1)));
  platform::MemoryWindow window(int32_t(state.range(2)), int32_t(state.range(3)));
  CDDrawRenderer renderer;
  renderer.window = &window;
  if (renderer.Init(&window) != 1) {
    state.SkipWithError("Init failed");
    return;
  }
  renderer.SetOsd("2026-03-14 09:26:53");
  renderer.osdOn = 1;
  renderer.DrawPicture(picture.Y(), picture.U(), picture.V(), picture.width, picture.height);

  const double drawStart = ThreadSeconds();
  for (auto _ : state) {
    renderer.DrawPicture(picture.Y(), picture.U(), picture.V(), picture.width, picture.height);
  }
  const double drawSeconds = ThreadSeconds() - drawStart;

  // The reference: as many conversions of the same picture, right after, in this process.
  Converter converter(picture);
  converter.Run(picture);
  const double convertStart = ThreadSeconds();
  for (benchmark::IterationCount i = 0; i < state.iterations(); ++i) converter.Run(picture);
  const double convertSeconds = ThreadSeconds() - convertStart;
  state.counters["ratio_to_convert"] = drawSeconds / convertSeconds;
  platform::ResetDisplayPixelFormat();
}

BENCHMARK(BM_ConvertOnly)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawPicture)
    ->ArgNames({"w", "h", "win_w", "win_h"})
    ->Args({1280, 720, 1280, 720})
    ->Args({1280, 720, 1920, 1080})
    ->Args({1920, 1080, 1280, 720})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The overlay text needs fonts, which need an application object; no display is used.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
