#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "tests/convert/convert_test_support.h"

namespace {

using namespace converttest;

// Every (Y, U, V) triple, as 256 pictures of 512 x 128 pixels, one per V. Chroma block s of a
// picture (256 per row, 64 rows) has U = s / 64, and its four pixels the luma values
// 4 * (s % 64) + 0..3, so each picture holds every (Y, U) pair once.
constexpr int kWidth = 512;
constexpr int kHeight = 128;
constexpr int kChromaWidth = kWidth / 2;

struct Planes {
  std::vector<uint8_t> y = std::vector<uint8_t>(kWidth * kHeight);
  std::vector<uint8_t> u = std::vector<uint8_t>(kChromaWidth * kHeight / 2);
};

const Planes& LumaAndBlue() {
  static const Planes planes = [] {
    Planes p;
    for (int cy = 0; cy < kHeight / 2; ++cy) {
      for (int cx = 0; cx < kChromaWidth; ++cx) {
        const int s = cy * kChromaWidth + cx;
        const int luma = 4 * (s % 64);
        p.u[s] = static_cast<uint8_t>(s / 64);
        p.y[2 * cy * kWidth + 2 * cx] = static_cast<uint8_t>(luma);
        p.y[2 * cy * kWidth + 2 * cx + 1] = static_cast<uint8_t>(luma + 1);
        p.y[(2 * cy + 1) * kWidth + 2 * cx] = static_cast<uint8_t>(luma + 2);
        p.y[(2 * cy + 1) * kWidth + 2 * cx + 1] = static_cast<uint8_t>(luma + 3);
      }
    }
    return p;
  }();
  return planes;
}

// The 256 pictures as the formula gives them in one layout, one after the other. The three
// paths of a layout run one after another, so the last layout's pictures are kept for them.
const std::vector<uint8_t>& ExpectedPictures(Layout layout) {
  static Layout keptLayout;
  static std::unique_ptr<std::vector<uint8_t>> kept;
  if (kept && keptLayout == layout) return *kept;
  const Planes& planes = LumaAndBlue();
  const int bpp = BytesPerPixel(layout);
  const size_t pictureBytes = size_t{kWidth} * kHeight * bpp;
  kept.reset();
  kept = std::make_unique<std::vector<uint8_t>>(pictureBytes * 256);
  keptLayout = layout;
  for (int v = 0; v < 256; ++v) {
    uint8_t* out = kept->data() + pictureBytes * v;
    for (int row = 0; row < kHeight; ++row) {
      for (int x = 0; x < kWidth; ++x) {
        const Rgb c =
            Formula(planes.y[row * kWidth + x], planes.u[row / 2 * kChromaWidth + x / 2], v);
        PutPixel(layout, c, out + (row * kWidth + x) * bpp);
      }
    }
  }
  return *kept;
}

class EveryTriple : public ::testing::TestWithParam<std::tuple<Layout, Route>> {};

TEST_P(EveryTriple, MatchesTheFormulaForEveryYuvTriple) {
  const auto [layout, route] = GetParam();
  const ConvertFunctions* functions = FunctionsFor(route);
  if (!functions) GTEST_SKIP() << RouteName(route) << " cannot run on this machine";
  const ConvertFunction convert = Pick(*functions, layout);
  const int bpp = BytesPerPixel(layout);
  const int pitch = kWidth * bpp;
  const size_t pictureBytes = size_t{kWidth} * kHeight * bpp;
  const Planes& planes = LumaAndBlue();
  const std::vector<uint8_t>& expected = ExpectedPictures(layout);

  std::vector<uint8_t> vPlane(planes.u.size());
  std::vector<uint8_t> actual(pictureBytes);
  for (int v = 0; v < 256; ++v) {
    std::memset(vPlane.data(), v, vPlane.size());
    std::memset(actual.data(), 0xA5, actual.size());
    convert(planes.y.data(), kWidth, planes.u.data(), vPlane.data(), kChromaWidth, actual.data(),
            kWidth, kHeight, pitch);
    const uint8_t* want = expected.data() + pictureBytes * v;
    if (std::memcmp(want, actual.data(), pictureBytes) == 0) continue;
    for (size_t i = 0; i < pictureBytes; ++i) {
      if (want[i] == actual[i]) continue;
      const int row = static_cast<int>(i / pitch);
      const int x = static_cast<int>(i % pitch) / bpp;
      ADD_FAILURE() << "Y " << int{planes.y[row * kWidth + x]} << " U "
                    << int{planes.u[row / 2 * kChromaWidth + x / 2]} << " V " << v << ": byte "
                    << i % bpp << " of the pixel is " << int{actual[i]} << ", the formula gives "
                    << int{want[i]};
      return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LayoutsAndPaths, EveryTriple,
                         ::testing::Combine(::testing::Values(Layout::Rgb32, Layout::Rgb24,
                                                              Layout::Rgb565, Layout::Rgb555),
                                            ::testing::Values(Route::Scalar, Route::Sse2,
                                                              Route::Avx2)),
                         [](const ::testing::TestParamInfo<EveryTriple::ParamType>& info) {
                           return std::string(LayoutName(std::get<0>(info.param))) + "_" +
                                  RouteName(std::get<1>(info.param));
                         });

}  // namespace
