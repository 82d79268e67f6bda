#include "platform/stretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr PixelFormat kFormats[] = {PixelFormat::Rgb555, PixelFormat::Rgb565, PixelFormat::Rgb24,
                                    PixelFormat::Rgb32};

std::string FormatName(PixelFormat f) {
  switch (f) {
    case PixelFormat::Rgb555:
      return "Rgb555";
    case PixelFormat::Rgb565:
      return "Rgb565";
    case PixelFormat::Rgb24:
      return "Rgb24";
    case PixelFormat::Rgb32:
      return "Rgb32";
    case PixelFormat::Palette8:
      return "Palette8";
  }
  return "?";
}

// Widening and narrowing written out channel by channel, apart from the code under test.
uint32_t ReferenceRead(const uint8_t* p, PixelFormat f) {
  auto wide5 = [](uint32_t v) { return (v << 3) | (v >> 2); };
  auto wide6 = [](uint32_t v) { return (v << 2) | (v >> 4); };
  const uint32_t w = p[0] | (p[1] << 8);
  switch (f) {
    case PixelFormat::Rgb555:
      return wide5(w >> 10 & 31) << 16 | wide5(w >> 5 & 31) << 8 | wide5(w & 31);
    case PixelFormat::Rgb565:
      return wide5(w >> 11 & 31) << 16 | wide6(w >> 5 & 63) << 8 | wide5(w & 31);
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
      return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    case PixelFormat::Palette8:
      return 0;
  }
  return 0;
}

void ReferenceWrite(uint8_t* p, uint32_t rgb, PixelFormat f, uint8_t fourth) {
  const uint32_t r = rgb >> 16 & 255, g = rgb >> 8 & 255, b = rgb & 255;
  uint32_t w = 0;
  switch (f) {
    case PixelFormat::Rgb555:
      w = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
      p[0] = uint8_t(w);
      p[1] = uint8_t(w >> 8);
      return;
    case PixelFormat::Rgb565:
      w = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
      p[0] = uint8_t(w);
      p[1] = uint8_t(w >> 8);
      return;
    case PixelFormat::Rgb24:
      p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r);
      return;
    case PixelFormat::Rgb32:
      p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r), p[3] = fourth;
      return;
    case PixelFormat::Palette8:
      return;
  }
}

struct Image {
  int32_t width, height, pitch;
  PixelFormat format;
  std::vector<uint8_t> bytes;
  Image(int32_t w, int32_t h, PixelFormat f, int32_t padding = 5)
      : width(w),
        height(h),
        pitch(w * BytesPerPixel(f) + padding),
        format(f),
        bytes(static_cast<size_t>(pitch) * h) {}
  PixelView View() const { return PixelView{bytes.data(), pitch, width, height, format}; }
  uint8_t* At(int32_t x, int32_t y) { return bytes.data() + y * pitch + x * BytesPerPixel(format); }
};

// The whole contract pixel by pixel: nearest sample by the documented formula, written only
// inside clip, dest and the destination.
void ReferenceStretch(const Image& src, const Rect& srcRect, Image* dst, const Rect& destRect,
                      const Rect& clip, uint8_t fourth) {
  if (srcRect.IsEmpty() || destRect.IsEmpty() || srcRect.left < 0 || srcRect.top < 0 ||
      srcRect.right > src.width || srcRect.bottom > src.height) {
    return;
  }
  for (int32_t y = 0; y < dst->height; ++y) {
    for (int32_t x = 0; x < dst->width; ++x) {
      if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) continue;
      if (x < destRect.left || x >= destRect.right || y < destRect.top || y >= destRect.bottom)
        continue;
      int64_t dx = x - destRect.left, dy = y - destRect.top;
      int64_t sx = srcRect.left + (2 * dx + 1) * srcRect.Width() / (2 * destRect.Width());
      int64_t sy = srcRect.top + (2 * dy + 1) * srcRect.Height() / (2 * destRect.Height());
      const uint8_t* p = src.bytes.data() + sy * src.pitch + sx * BytesPerPixel(src.format);
      ReferenceWrite(dst->At(x, y), ReferenceRead(p, src.format), dst->format, fourth);
    }
  }
}

struct Geometry {
  const char* name;
  int32_t srcW, srcH;
  Rect srcRect;
  int32_t dstW, dstH;
  Rect destRect;
  Rect clip;
};

// Enlarging (rows repeat), shrinking, same width (the straight row copy), odd ratios, a
// sub-rectangle of the source, a destination reaching past every edge and a narrow clip.
const Geometry kGeometries[] = {
    {"same size", 16, 8, {0, 0, 16, 8}, 16, 8, {0, 0, 16, 8}, {0, 0, 16, 8}},
    {"enlarge 1.5x", 20, 12, {0, 0, 20, 12}, 30, 18, {0, 0, 30, 18}, {0, 0, 30, 18}},
    {"enlarge 3x", 5, 4, {0, 0, 5, 4}, 15, 12, {0, 0, 15, 12}, {0, 0, 15, 12}},
    {"shrink", 37, 29, {0, 0, 37, 29}, 11, 7, {0, 0, 11, 7}, {0, 0, 11, 7}},
    {"shrink 1.5x", 60, 30, {0, 0, 60, 30}, 40, 20, {0, 0, 40, 20}, {0, 0, 40, 20}},
    {"shrink just under 2x", 79, 9, {0, 0, 79, 9}, 40, 5, {0, 0, 40, 5}, {0, 0, 40, 5}},
    {"shrink from the right edge", 70, 9, {20, 0, 70, 9}, 27, 5, {0, 0, 27, 5}, {0, 0, 27, 5}},
    {"same width taller", 9, 5, {0, 0, 9, 5}, 9, 13, {0, 0, 9, 13}, {0, 0, 9, 13}},
    {"sub rectangle", 32, 24, {7, 3, 19, 17}, 25, 20, {2, 1, 23, 19}, {0, 0, 25, 20}},
    {"dest past every edge", 12, 10, {0, 0, 12, 10}, 20, 16, {-7, -5, 29, 23}, {0, 0, 20, 16}},
    {"clip inside", 12, 10, {0, 0, 12, 10}, 24, 20, {0, 0, 24, 20}, {5, 3, 17, 11}},
    {"clip past dest", 12, 10, {0, 0, 12, 10}, 24, 20, {4, 4, 14, 14}, {-3, -3, 40, 40}},
    {"empty dest", 12, 10, {0, 0, 12, 10}, 24, 20, {5, 5, 5, 9}, {0, 0, 24, 20}},
    {"source rect outside", 12, 10, {0, 0, 13, 10}, 24, 20, {0, 0, 24, 20}, {0, 0, 24, 20}},
    {"negative source rect", 12, 10, {-1, 0, 12, 10}, 24, 20, {0, 0, 24, 20}, {0, 0, 24, 20}},
};

TEST(Stretch, MatchesTheReferenceForEveryLayoutAndGeometry) {
  std::mt19937 random(7);
  for (const Geometry& g : kGeometries) {
    for (PixelFormat srcFormat : kFormats) {
      for (PixelFormat dstFormat : kFormats) {
        SCOPED_TRACE(std::string(g.name) + ": " + FormatName(srcFormat) + " -> " +
                     FormatName(dstFormat));
        Image src(g.srcW, g.srcH, srcFormat);
        for (uint8_t& b : src.bytes) b = static_cast<uint8_t>(random());
        Image expected(g.dstW, g.dstH, dstFormat, 3);
        for (uint8_t& b : expected.bytes) b = static_cast<uint8_t>(random());
        Image actual = expected;

        ReferenceStretch(src, g.srcRect, &expected, g.destRect, g.clip, 0);
        StretchPixels(src.View(), g.srcRect, actual.bytes.data(), actual.pitch, actual.width,
                      actual.height, dstFormat, g.destRect, g.clip);
        ASSERT_EQ(expected.bytes, actual.bytes);

        if (dstFormat == PixelFormat::Rgb32) {
          Image plain = actual, opaque = actual;
          Image opaqueExpected = actual;
          ReferenceStretch(src, g.srcRect, &opaqueExpected, g.destRect, g.clip, 0xFF);
          StretchToRgb32(src.View(), g.srcRect, plain.bytes.data(), plain.pitch, plain.width,
                         plain.height, g.destRect, g.clip);
          StretchToOpaqueRgb32(src.View(), g.srcRect, opaque.bytes.data(), opaque.pitch,
                               opaque.width, opaque.height, g.destRect, g.clip);
          ASSERT_EQ(expected.bytes, plain.bytes);
          ASSERT_EQ(opaqueExpected.bytes, opaque.bytes);
        }
      }
    }
  }
}

// Rows whose pitch is a multiple of 32 bytes start at the same place in every 32-byte line;
// the 32-bit path aligns its stores to that, so every start must give the same pixels.
TEST(Stretch, ThirtyTwoBitRowsMatchTheReferenceAtEveryAlignment) {
  std::mt19937 random(11);
  for (const Geometry& g : kGeometries) {
    Image src(g.srcW, g.srcH, PixelFormat::Rgb32);
    for (uint8_t& b : src.bytes) b = static_cast<uint8_t>(random());
    for (int32_t start = 0; start < 32; start += 4) {
      SCOPED_TRACE(std::string(g.name) + ", rows starting " + std::to_string(start));
      Image expected(g.dstW, g.dstH, PixelFormat::Rgb32, 0);
      expected.pitch = (g.dstW * 4 + 31) / 32 * 32;
      expected.bytes.resize(static_cast<size_t>(expected.pitch) * g.dstH + 32);
      for (uint8_t& b : expected.bytes) b = static_cast<uint8_t>(random());
      Image actual = expected;
      // The reference writes through At(), so its rows are moved by start as well.
      Image shifted = expected;
      shifted.bytes.erase(shifted.bytes.begin(), shifted.bytes.begin() + start);
      ReferenceStretch(src, g.srcRect, &shifted, g.destRect, g.clip, 0xFF);
      std::copy(shifted.bytes.begin(), shifted.bytes.end(), expected.bytes.begin() + start);
      StretchToOpaqueRgb32(src.View(), g.srcRect, actual.bytes.data() + start, actual.pitch,
                           actual.width, actual.height, g.destRect, g.clip);
      ASSERT_EQ(expected.bytes, actual.bytes);
    }
  }
}

TEST(Stretch, TwoByTwoDoublesIntoQuadrantsWithTheFourthByteCleared) {
  // B, G, R, and a fourth byte that must not come through.
  const uint8_t source[2 * 8] = {0x01, 0x02, 0x03, 0xAA, 0x11, 0x12, 0x13, 0xBB,
                                 0x21, 0x22, 0x23, 0xCC, 0x31, 0x32, 0x33, 0xDD};
  uint32_t dest[16];
  std::memset(dest, 0xEE, sizeof dest);
  StretchToRgb32(PixelView{source, 8, 2, 2, PixelFormat::Rgb32}, Rect{0, 0, 2, 2},
                 reinterpret_cast<uint8_t*>(dest), 16, 4, 4, Rect{0, 0, 4, 4}, Rect{0, 0, 4, 4});
  const uint32_t expected[16] = {0x030201, 0x030201, 0x131211, 0x131211, 0x030201, 0x030201,
                                 0x131211, 0x131211, 0x232221, 0x232221, 0x333231, 0x333231,
                                 0x232221, 0x232221, 0x333231, 0x333231};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(expected[i], dest[i]) << "pixel " << i;
}

TEST(Stretch, PacksAndUnpacksPrimariesInEveryLayout) {
  struct Case {
    PixelFormat format;
    uint32_t red, green, blue, white;
  };
  const Case cases[] = {
      {PixelFormat::Rgb555, 0x7C00, 0x03E0, 0x001F, 0x7FFF},
      {PixelFormat::Rgb565, 0xF800, 0x07E0, 0x001F, 0xFFFF},
      {PixelFormat::Rgb24, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
      {PixelFormat::Rgb32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FormatName(c.format));
    EXPECT_EQ(c.red, PackPixel(0xFF0000, c.format));
    EXPECT_EQ(c.green, PackPixel(0x00FF00, c.format));
    EXPECT_EQ(c.blue, PackPixel(0x0000FF, c.format));
    EXPECT_EQ(c.white, PackPixel(0xFFFFFF, c.format));
    for (uint32_t rgb : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFFFFu, 0u}) {
      const uint32_t packed = PackPixel(rgb, c.format);
      EXPECT_EQ(rgb, UnpackPixel(reinterpret_cast<const uint8_t*>(&packed), c.format));
    }
  }
}

TEST(Stretch, NullPixelsWriteNothing) {
  uint32_t dest[4] = {1, 2, 3, 4};
  StretchToRgb32(PixelView{nullptr, 8, 2, 2, PixelFormat::Rgb32}, Rect{0, 0, 2, 2},
                 reinterpret_cast<uint8_t*>(dest), 8, 2, 2, Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2});
  EXPECT_EQ(1u, dest[0]);
  EXPECT_EQ(4u, dest[3]);
  const uint8_t source[16] = {};
  StretchToRgb32(PixelView{source, 8, 2, 2, PixelFormat::Rgb32}, Rect{0, 0, 2, 2}, nullptr, 8, 2, 2,
                 Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2});
}

}  // namespace
}  // namespace platform
