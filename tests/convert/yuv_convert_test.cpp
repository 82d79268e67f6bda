#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <tuple>
#include <vector>

#include "tests/convert/convert_test_support.h"

namespace {

using namespace converttest;

constexpr Layout kLayouts[] = {Layout::Rgb32, Layout::Rgb24, Layout::Rgb565, Layout::Rgb555};
constexpr Route kRoutes[] = {Route::Public, Route::Scalar, Route::Sse2, Route::Avx2};

// Known colours worked out by hand, as a check on the formula itself.
struct CheckValue {
  int y, u, v;
  int r, g, b;
  uint16_t word565, word555;
};

constexpr CheckValue kCheckValues[] = {
    {16, 128, 128, 0, 0, 0, 0x0000, 0x0000},         // black
    {235, 128, 128, 255, 255, 255, 0xFFDF, 0x7FFF},  // white; 5-6-5 green ends in 0
    {128, 128, 128, 130, 130, 130, 0x8410, 0x4210},  // grey gains
    {126, 128, 128, 128, 128, 128, 0x8410, 0x4210},  // ... and lands on 128
    {0, 128, 128, 0, 0, 0, 0x0000, 0x0000},          // luma below 16 is 16
    {5, 240, 240, 179, 0, 226, 0xB01C, 0x581C},      // ... also where chroma adds colour
    {255, 128, 128, 255, 255, 255, 0xFFDF, 0x7FFF},  // clamped from 279
    {81, 90, 240, 254, 0, 0, 0xF800, 0x7C00},        // red
    {145, 54, 34, 0, 255, 0, 0x07C0, 0x03E0},        // green
    {41, 240, 110, 0, 0, 255, 0x001F, 0x001F},       // blue
    {210, 16, 146, 254, 254, 0, 0xFFC0, 0x7FE0},     // yellow
};

TEST(Yuv420ToRgb, GivesTheKnownColoursOnEveryPath) {
  constexpr int kWidth = 8, kHeight = 2;
  for (Route route : kRoutes) {
    const ConvertFunctions* functions = FunctionsFor(route);
    if (!functions) continue;
    for (const CheckValue& check : kCheckValues) {
      const std::vector<uint8_t> y(kWidth * kHeight, static_cast<uint8_t>(check.y));
      const std::vector<uint8_t> u(kWidth / 2, static_cast<uint8_t>(check.u));
      const std::vector<uint8_t> v(kWidth / 2, static_cast<uint8_t>(check.v));
      for (Layout layout : kLayouts) {
        SCOPED_TRACE(::testing::Message() << RouteName(route) << " " << LayoutName(layout) << " Y "
                                          << check.y << " U " << check.u << " V " << check.v);
        const int bpp = BytesPerPixel(layout);
        std::vector<uint8_t> dst(kWidth * bpp * kHeight, 0xA5);
        Pick(*functions, layout)(y.data(), kWidth, u.data(), v.data(), kWidth / 2, dst.data(),
                                 kWidth, kHeight, kWidth * bpp);
        for (int i = 0; i < kWidth * kHeight; ++i) {
          const uint8_t* p = dst.data() + i * bpp;
          const int word = p[0] | p[1] << 8;
          switch (layout) {
            case Layout::Rgb32:
              ASSERT_EQ(p[3], 0);
              [[fallthrough]];
            case Layout::Rgb24:
              ASSERT_EQ((std::vector<int>{p[2], p[1], p[0]}),
                        (std::vector<int>{check.r, check.g, check.b}));
              break;
            case Layout::Rgb565:
              ASSERT_EQ(word, check.word565);
              break;
            case Layout::Rgb555:
              ASSERT_EQ(word, check.word555);
              break;
          }
        }
      }
    }
  }
}

// A slip in the choice would keep every byte right and only lose the speed.
TEST(Yuv420ToRgb, PublicRoutinesUseTheWidestPathTheProcessorRuns) {
  const ConvertFunctions* widest = FunctionsFor(Route::Avx2);
  if (!widest) widest = FunctionsFor(Route::Sse2);
  if (!widest) widest = FunctionsFor(Route::Scalar);
  EXPECT_STREQ(yuvconvert::ActiveFunctions().name, widest->name);
  EXPECT_EQ(yuvconvert::ActiveFunctions().rgb24, widest->rgb24);
}

// One picture geometry: size, and how much the strides and the pitch exceed the rows.
struct Geometry {
  int width, height;
  int yPadding, uvPadding, pitchPadding;
};

// Widths exercise whole vector blocks, shorter last parts, a tail of width % 8 pixels and
// widths below one step; heights odd and even, down to nothing. Pitches are tight (so the
// 24-bit zero byte lands on the next row) or padded.
constexpr Geometry kGeometries[] = {
    {8, 2, 0, 0, 0},  {8, 1, 0, 0, 0},   {16, 4, 0, 0, 0},  {24, 6, 3, 1, 5}, {32, 2, 0, 0, 0},
    {40, 4, 0, 0, 0}, {56, 3, 0, 0, 0},  {64, 4, 7, 5, 3},  {72, 5, 1, 2, 0}, {13, 3, 0, 0, 0},
    {13, 4, 2, 3, 1}, {31, 2, 0, 0, 0},  {100, 6, 4, 1, 9}, {7, 4, 0, 0, 0},  {1, 1, 0, 0, 0},
    {64, 0, 0, 0, 0}, {64, -1, 0, 0, 0}, {0, 4, 0, 0, 0},   {-8, 4, 0, 0, 0}, {130, 7, 0, 0, 0},
};

// What the row-by-row walk leaves in `dst`: pixels 0 .. 8 * (width / 8) - 1 of each row from
// the pixel's own luma and its block's chroma, then in the 24-bit layout a 0 after the last
// converted pixel, except past the picture's last row when the row has no tail.
void ExpectedWalk(Layout layout, const Geometry& g, const uint8_t* y, int yStride, const uint8_t* u,
                  const uint8_t* v, int uvStride, std::vector<uint8_t>& dst, int pitch) {
  if (g.height <= 0 || g.width < 8) return;
  const int bpp = BytesPerPixel(layout);
  const int converted = g.width / 8 * 8;
  for (int row = 0; row < g.height; ++row) {
    for (int x = 0; x < converted; ++x) {
      const Rgb c = Formula(y[row * yStride + x], u[row / 2 * uvStride + x / 2],
                            v[row / 2 * uvStride + x / 2]);
      PutPixel(layout, c, dst.data() + row * pitch + x * bpp);
    }
    if (layout == Layout::Rgb24 && (row + 1 < g.height || g.width % 8 != 0)) {
      dst[row * pitch + converted * 3] = 0;
    }
  }
}

class Walk : public ::testing::TestWithParam<std::tuple<Layout, Route>> {};

// Random planes that end exactly at the last byte the walk may read, in front of an
// inaccessible page; a destination of exactly height rows (the last one exactly width pixels)
// followed by a canary. The whole destination and canary must equal the walk's result.
TEST_P(Walk, ConvertsEachPixelFromItsBlocksChromaIntoItsRowAndWritesNothingElse) {
  const auto [layout, route] = GetParam();
  const ConvertFunctions* functions = FunctionsFor(route);
  if (!functions) GTEST_SKIP() << RouteName(route) << " cannot run on this machine";
  const int bpp = BytesPerPixel(layout);
  std::mt19937 random(20240611);
  for (const Geometry& g : kGeometries) {
    SCOPED_TRACE(::testing::Message() << g.width << " x " << g.height << ", paddings " << g.yPadding
                                      << "/" << g.uvPadding << "/" << g.pitchPadding);
    const int rows = g.height > 0 ? g.height : 0;
    const int width = g.width > 0 ? g.width : 0;
    const int steps = width / 8;
    const int yStride = width + g.yPadding;
    const int uvStride = (width + 1) / 2 + g.uvPadding;
    const int pitch = width * bpp + g.pitchPadding;
    const size_t ySize = rows > 0 ? static_cast<size_t>((rows - 1) * yStride + steps * 8) : 0;
    const int chromaRows = (rows + 1) / 2;
    const size_t uvSize =
        chromaRows > 0 ? static_cast<size_t>((chromaRows - 1) * uvStride + steps * 4) : 0;
    GuardedBytes y(ySize), u(uvSize), v(uvSize);
    ASSERT_TRUE(y.Ok() && u.Ok() && v.Ok());
    for (GuardedBytes* plane : {&y, &u, &v}) {
      for (size_t i = 0; i < plane->Size(); ++i) plane->Data()[i] = static_cast<uint8_t>(random());
    }
    constexpr size_t kCanary = 64;
    const size_t dstSize = rows > 0 ? static_cast<size_t>((rows - 1) * pitch + width * bpp) : 0;
    std::vector<uint8_t> expected(dstSize + kCanary, 0xA5);
    std::vector<uint8_t> actual(expected);

    Pick(*functions, layout)(y.Data(), yStride, u.Data(), v.Data(), uvStride, actual.data(),
                             g.width, g.height, pitch);
    ExpectedWalk(layout, g, y.Data(), yStride, u.Data(), v.Data(), uvStride, expected, pitch);

    for (size_t i = 0; i < expected.size(); ++i) {
      if (expected[i] == actual[i]) continue;
      const size_t row = pitch > 0 ? i / static_cast<size_t>(pitch) : 0;
      ADD_FAILURE() << "first difference at byte " << i << " (row " << row << ", byte "
                    << i - row * pitch << " of the row): " << int{actual[i]} << " instead of "
                    << int{expected[i]} << (i >= dstSize ? ", past the destination" : "");
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LayoutsAndRoutes, Walk,
                         ::testing::Combine(::testing::ValuesIn(kLayouts),
                                            ::testing::ValuesIn(kRoutes)),
                         [](const ::testing::TestParamInfo<Walk::ParamType>& info) {
                           return std::string(LayoutName(std::get<0>(info.param))) + "_" +
                                  RouteName(std::get<1>(info.param));
                         });

}  // namespace
