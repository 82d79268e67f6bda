#include "platform/canvas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/stretch.h"

namespace platform {
namespace {

const FontSpec kOverlayFont{"Arial", 20, 800};

struct Pixels {
  int32_t width, height, pitch;
  PixelFormat format;
  std::vector<uint8_t> bytes;
  Pixels(int32_t w, int32_t h, PixelFormat f)
      : width(w),
        height(h),
        pitch(w * BytesPerPixel(f) + 7),
        format(f),
        bytes(static_cast<size_t>(pitch) * h, 0) {}
  const uint8_t* At(int32_t x, int32_t y) const {
    return bytes.data() + y * pitch + x * BytesPerPixel(format);
  }
  uint32_t Rgb(int32_t x, int32_t y) const { return UnpackPixel(At(x, y), format); }
  uint32_t Raw(int32_t x, int32_t y) const {
    uint32_t v = 0;
    std::memcpy(&v, At(x, y), BytesPerPixel(format));
    return v;
  }
};

struct Bounds {
  int32_t left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  int32_t count = 0;
  void Add(int32_t x, int32_t y) {
    left = std::min(left, x), top = std::min(top, y);
    right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
    ++count;
  }
};

template <typename Predicate>
Bounds Find(const Pixels& p, Predicate predicate) {
  Bounds b;
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x)
      if (predicate(p.Rgb(x, y))) b.Add(x, y);
  return b;
}

TEST(Canvas, TransparentTextSitsInItsCellWithTheFourthByteKeptZero) {
  Pixels p(240, 60, PixelFormat::Rgb32);
  Canvas canvas(p.bytes.data(), p.width, p.height, p.pitch, p.format);
  canvas.Fill(0x808080);
  canvas.SelectFont(kOverlayFont);
  canvas.SetBkMode(BackgroundMode::Transparent);
  canvas.SetTextColor(0x0000FF);  // red
  const int32_t x = 30, y = 12;
  canvas.TextOut(x, y, "2026-03-14");
  const TextExtent extent = canvas.GetTextExtent("2026-03-14");
  ASSERT_GT(extent.width, 60);
  ASSERT_GE(extent.height, 20);

  const Bounds changed = Find(p, [](uint32_t rgb) { return rgb != 0x808080; });
  const Bounds red = Find(p, [](uint32_t rgb) { return rgb == 0xFF0000; });
  ASSERT_GT(red.count, 50);
  // The cell's top-left is (x, y): ink starts just right of x and below y (digits leave
  // the top of the cell empty) and stays inside the cell.
  EXPECT_GE(changed.left, x);
  EXPECT_LE(changed.left, x + 4);
  EXPECT_GT(changed.top, y);
  EXPECT_LE(changed.top, y + 8);
  EXPECT_LE(changed.right, x + extent.width + 1);
  EXPECT_LE(changed.bottom, y + extent.height);
  for (int32_t row = 0; row < p.height; ++row)
    for (int32_t column = 0; column < p.width; ++column)
      ASSERT_EQ(0, p.At(column, row)[3]) << column << "," << row;
}

TEST(Canvas, FreshCanvasDrawsBlackTextOnAWhiteBoxOfTheCell) {
  Pixels p(200, 50, PixelFormat::Rgb32);
  Canvas canvas(p.bytes.data(), p.width, p.height, p.pitch, p.format);
  canvas.Fill(0x404040);
  canvas.SelectFont(kOverlayFont);
  canvas.TextOut(20, 10, "12:34");
  const TextExtent extent = canvas.GetTextExtent("12:34");

  const Bounds white = Find(p, [](uint32_t rgb) { return rgb == 0xFFFFFF; });
  EXPECT_EQ(20, white.left);
  EXPECT_EQ(10, white.top);
  EXPECT_EQ(20 + extent.width, white.right);
  EXPECT_EQ(10 + extent.height, white.bottom);
  EXPECT_GT(Find(p, [](uint32_t rgb) { return rgb == 0x000000; }).count, 30);
  // Everything the box covers is white, black or a grey between them.
  for (int32_t y = 10; y < 10 + extent.height; ++y) {
    for (int32_t x = 20; x < 20 + extent.width; ++x) {
      const uint32_t rgb = p.Rgb(x, y);
      ASSERT_TRUE((rgb >> 16) == (rgb & 0xFF) && ((rgb >> 8) & 0xFF) == (rgb & 0xFF))
          << x << "," << y;
    }
  }
  EXPECT_EQ(0x404040u, p.Rgb(19, 10));
  EXPECT_EQ(0x404040u, p.Rgb(20, 9));
  EXPECT_EQ(0x404040u, p.Rgb(20, 10 + extent.height));
}

TEST(Canvas, TextColourLandsInEveryLayout) {
  struct Case {
    PixelFormat format;
    uint32_t redRaw;  // pure red as the layout stores it
  };
  const Case cases[] = {{PixelFormat::Rgb555, 0x7C00},
                        {PixelFormat::Rgb565, 0xF800},
                        {PixelFormat::Rgb24, 0xFF0000},
                        {PixelFormat::Rgb32, 0xFF0000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    Pixels p(160, 40, c.format);
    Canvas canvas(p.bytes.data(), p.width, p.height, p.pitch, c.format);
    canvas.SelectFont(kOverlayFont);
    canvas.SetBkMode(BackgroundMode::Opaque);
    canvas.SetBkColor(0xFF0000);    // blue box
    canvas.SetTextColor(0x0000FF);  // red text
    canvas.TextOut(5, 5, "88");
    int32_t red = 0, blue = 0;
    const uint32_t blueRaw = PackPixel(0x0000FF, c.format);
    for (int32_t y = 0; y < p.height; ++y) {
      for (int32_t x = 0; x < p.width; ++x) {
        red += p.Raw(x, y) == c.redRaw;
        blue += p.Raw(x, y) == blueRaw;
      }
    }
    EXPECT_GT(red, 20);
    EXPECT_GT(blue, 100);
    // The padding after each row is never written.
    for (int32_t y = 0; y < p.height; ++y)
      for (int32_t i = p.width * BytesPerPixel(c.format); i < p.pitch; ++i)
        ASSERT_EQ(0, p.bytes[y * p.pitch + i]);
  }
}

TEST(Canvas, DrawImageStretchesByNearestSampleAndClipsToTheCanvas) {
  const uint32_t image[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};
  const PixelView view{reinterpret_cast<const uint8_t*>(image), 8, 2, 2, PixelFormat::Rgb32};
  for (PixelFormat format : {PixelFormat::Rgb565, PixelFormat::Rgb24, PixelFormat::Rgb32}) {
    SCOPED_TRACE(static_cast<int>(format));
    Pixels p(6, 6, format);
    Canvas canvas(p.bytes.data(), p.width, p.height, p.pitch, format);
    canvas.DrawImage(view, Rect{2, 2, 10, 10});  // 8x8 from (2, 2): only 4x4 is on the canvas
    EXPECT_EQ(0u, p.Rgb(1, 1));
    EXPECT_EQ(0xFF0000u, p.Rgb(2, 2));
    EXPECT_EQ(0xFF0000u, p.Rgb(5, 5));  // still the top-left quarter of the 8x8 stretch
    canvas.DrawImage(view, Rect{0, 0, 6, 6});
    EXPECT_EQ(0xFF0000u, p.Rgb(0, 0));
    EXPECT_EQ(0x00FF00u, p.Rgb(5, 0));
    EXPECT_EQ(0x0000FFu, p.Rgb(0, 5));
    EXPECT_EQ(0xFFFFFFu, p.Rgb(5, 5));
    EXPECT_EQ(0x00FF00u, p.Rgb(3, 2));
    EXPECT_EQ(0xFF0000u, p.Rgb(2, 2));
  }
}

TEST(Canvas, FillsEveryLayoutWithTheColourReference) {
  struct Case {
    PixelFormat format;
    uint32_t raw;  // 0x00BBGGRR 0x3366CC as stored
  };
  const Case cases[] = {{PixelFormat::Rgb555, (0xCC >> 3) << 10 | (0x66 >> 3) << 5 | 0x33 >> 3},
                        {PixelFormat::Rgb565, (0xCC >> 3) << 11 | (0x66 >> 2) << 5 | 0x33 >> 3},
                        {PixelFormat::Rgb24, 0xCC6633},
                        {PixelFormat::Rgb32, 0xCC6633}};
  for (const Case& c : cases) {
    Pixels p(5, 3, c.format);
    Canvas canvas(p.bytes.data(), p.width, p.height, p.pitch, c.format);
    canvas.Fill(0x3366CC);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(c.raw, p.Raw(x, y)) << int(c.format);
    EXPECT_EQ(0, p.bytes[p.width * BytesPerPixel(c.format)]);  // padding untouched
  }
}

TEST(Canvas, UnusablePixelsAreNeverWritten) {
  std::vector<uint8_t> bytes(64, 0x5A);
  struct Case {
    uint8_t* bits;
    int32_t width, height, pitch;
    PixelFormat format;
  };
  const Case cases[] = {
      {bytes.data(), 8, 2, 16, PixelFormat::Rgb32},     // pitch shorter than a row
      {bytes.data(), 8, 2, 32, PixelFormat::Palette8},  // no layout to draw in
      {bytes.data(), 0, 2, 32, PixelFormat::Rgb32},
      {bytes.data(), 4, -1, 16, PixelFormat::Rgb32},
      {nullptr, 4, 4, 16, PixelFormat::Rgb32},
  };
  const uint32_t image[1] = {0xFFFFFF};
  for (const Case& c : cases) {
    Canvas canvas(c.bits, c.width, c.height, c.pitch, c.format);
    canvas.Fill(0x000000);
    canvas.TextOut(0, 0, "X");
    canvas.DrawImage(
        PixelView{reinterpret_cast<const uint8_t*>(image), 4, 1, 1, PixelFormat::Rgb32},
        Rect{0, 0, 8, 8});
  }
  for (uint8_t b : bytes) ASSERT_EQ(0x5A, b);
}

}  // namespace
}  // namespace platform
