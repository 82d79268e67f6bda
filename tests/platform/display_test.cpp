#include "platform/display.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/memory_window.h"
#include "platform/stretch.h"

namespace platform {
namespace {

class DisplayTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetDisplayPixelFormat(); }

  std::unique_ptr<Display> MakeDisplay(PixelFormat format) {
    SetDisplayPixelFormat(format);
    std::unique_ptr<Display> display;
    EXPECT_EQ(DD_OK, Display::Create(&display));
    return display;
  }

  // Left half red, right half blue.
  static void PaintHalves(Surface& surface) {
    SurfaceDesc desc;
    ASSERT_EQ(DD_OK, surface.Lock(&desc));
    const int32_t bpp = BytesPerPixel(desc.format);
    for (int32_t y = 0; y < desc.height; ++y) {
      for (int32_t x = 0; x < desc.width; ++x) {
        const uint32_t packed = PackPixel(x < desc.width / 2 ? 0xFF0000 : 0x0000FF, desc.format);
        std::memcpy(desc.surface + y * desc.pitch + x * bpp, &packed, bpp);
      }
    }
    ASSERT_EQ(DD_OK, surface.Unlock());
  }
};

TEST_F(DisplayTest, SurfacesDescribeTheirFormatAsTheDriverWould) {
  struct Case {
    PixelFormat format;
    uint32_t flags, bits, redMask;
  };
  const Case cases[] = {{PixelFormat::Rgb555, DDPF_RGB, 16, 0x7C00},
                        {PixelFormat::Rgb565, DDPF_RGB, 16, 0xF800},
                        {PixelFormat::Rgb24, DDPF_RGB, 24, 0xFF0000},
                        {PixelFormat::Rgb32, DDPF_RGB, 32, 0xFF0000},
                        {PixelFormat::Palette8, DDPF_PALETTEINDEXED8, 8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    auto display = MakeDisplay(c.format);
    ASSERT_EQ(c.format, display->Format());
    std::unique_ptr<Surface> surface;
    ASSERT_EQ(DD_OK, display->CreateOffscreenSurface(333, 7, &surface));
    SurfaceDesc desc;
    ASSERT_EQ(DD_OK, surface->Lock(&desc));
    EXPECT_EQ(c.flags, desc.pixelFormat.flags);
    EXPECT_EQ(c.bits, desc.pixelFormat.rgbBitCount);
    EXPECT_EQ(c.redMask, desc.pixelFormat.redMask);
    EXPECT_EQ(333, desc.width);
    EXPECT_EQ(7, desc.height);
    EXPECT_GE(desc.pitch, 333 * BytesPerPixel(c.format));
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t i = 0; i < desc.pitch; ++i) ASSERT_EQ(0, desc.surface[y * desc.pitch + i]);
    EXPECT_EQ(DD_OK, surface->Unlock());
  }
}

TEST_F(DisplayTest, FormatComesFromTheScreenUnlessChosen) {
  EXPECT_EQ(PixelFormat::Rgb565, PixelFormatForScreenDepth(16));
  EXPECT_EQ(PixelFormat::Rgb555, PixelFormatForScreenDepth(15));
  EXPECT_EQ(PixelFormat::Rgb32, PixelFormatForScreenDepth(24));
  EXPECT_EQ(PixelFormat::Rgb32, PixelFormatForScreenDepth(32));
  SetDisplayPixelFormat(PixelFormat::Rgb24);
  EXPECT_EQ(PixelFormat::Rgb24, CurrentDisplayPixelFormat());
  ResetDisplayPixelFormat();
  EXPECT_EQ(PixelFormat::Rgb32, CurrentDisplayPixelFormat());  // the offscreen screen is 32-bit
}

TEST_F(DisplayTest, OffscreenSizesOutsideTheLimitsAreRefused) {
  auto display = MakeDisplay(PixelFormat::Rgb32);
  std::unique_ptr<Surface> surface;
  for (auto [w, h] : {std::pair{0, 10},
                      {10, 0},
                      {-5, 10},
                      {10, -5},
                      {MAX_SURFACE_DIMENSION + 1, 10},
                      {10, MAX_SURFACE_DIMENSION + 1}}) {
    EXPECT_EQ(DDERR_INVALIDPARAMS, display->CreateOffscreenSurface(w, h, &surface));
    EXPECT_EQ(nullptr, surface);
  }
}

TEST_F(DisplayTest, BlitStretchesOntoTheClientAreaGivenInScreenCoordinates) {
  for (PixelFormat format :
       {PixelFormat::Rgb555, PixelFormat::Rgb565, PixelFormat::Rgb24, PixelFormat::Rgb32}) {
    SCOPED_TRACE(static_cast<int>(format));
    auto display = MakeDisplay(format);
    std::unique_ptr<Surface> primary, offscreen;
    std::shared_ptr<Clipper> clipper;
    ASSERT_EQ(DD_OK, display->CreatePrimarySurface(&primary));
    ASSERT_EQ(DD_OK, display->CreateOffscreenSurface(64, 32, &offscreen));
    ASSERT_EQ(DD_OK, display->CreateClipper(&clipper));
    PaintHalves(*offscreen);

    MemoryWindow window(40, 20);
    window.SetScreenPosition(Point{100, 50});
    ASSERT_EQ(DD_OK, clipper->SetWindow(&window));
    ASSERT_EQ(DD_OK, primary->SetClipper(clipper));
    clipper.reset();  // the primary surface keeps its own reference

    // The left 8x4 of the surface is all red; the whole 64x32 is half and half.
    ASSERT_EQ(DD_OK, primary->Blt(Rect{100, 50, 140, 70}, *offscreen, Rect{0, 0, 64, 32}));
    EXPECT_EQ(0xFF0000u, window.PixelAt(0, 0));
    EXPECT_EQ(0xFF0000u, window.PixelAt(19, 19));
    EXPECT_EQ(0x0000FFu, window.PixelAt(20, 0));
    EXPECT_EQ(0x0000FFu, window.PixelAt(39, 19));

    // A destination reaching left of and above the client area is clipped to it.
    window.InvalidateErase();
    ASSERT_EQ(DD_OK, primary->Blt(Rect{80, 40, 120, 60}, *offscreen, Rect{0, 0, 64, 32}));
    EXPECT_EQ(0x0000FFu, window.PixelAt(0, 0));  // x 20 of the 40-wide stretch
    EXPECT_EQ(0x0000FFu, window.PixelAt(19, 9));
    EXPECT_EQ(0u, window.PixelAt(20, 0));  // right of the destination
    EXPECT_EQ(0u, window.PixelAt(0, 10));  // below it
  }
}

TEST_F(DisplayTest, BlitThatCannotReachAWindowDrawsNothing) {
  auto display = MakeDisplay(PixelFormat::Rgb32);
  std::unique_ptr<Surface> primary, offscreen;
  ASSERT_EQ(DD_OK, display->CreatePrimarySurface(&primary));
  ASSERT_EQ(DD_OK, display->CreateOffscreenSurface(16, 16, &offscreen));
  PaintHalves(*offscreen);
  MemoryWindow window(16, 16);

  EXPECT_EQ(DDERR_NOCLIPLIST, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 16, 16}));

  std::shared_ptr<Clipper> clipper;
  ASSERT_EQ(DD_OK, display->CreateClipper(&clipper));
  clipper->SetWindow(&window);
  primary->SetClipper(clipper);
  EXPECT_EQ(DDERR_INVALIDRECT, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 17, 16}));
  EXPECT_EQ(DDERR_INVALIDRECT, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 0, 16}));
  EXPECT_EQ(DDERR_INVALIDRECT, primary->Blt(Rect{5, 5, 5, 16}, *offscreen, Rect{0, 0, 16, 16}));
  EXPECT_EQ(DDERR_UNSUPPORTED, offscreen->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 16, 16}));
  window.SetClientSize(0, 0);
  EXPECT_EQ(DD_OK, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 16, 16}));
  EXPECT_EQ(0u, window.PresentCount());
}

TEST_F(DisplayTest, LostSurfaceRefusesEverythingUntilRestoredBlack) {
  auto display = MakeDisplay(PixelFormat::Rgb32);
  std::unique_ptr<Surface> primary, offscreen;
  std::shared_ptr<Clipper> clipper;
  ASSERT_EQ(DD_OK, display->CreatePrimarySurface(&primary));
  ASSERT_EQ(DD_OK, display->CreateOffscreenSurface(16, 16, &offscreen));
  ASSERT_EQ(DD_OK, display->CreateClipper(&clipper));
  MemoryWindow window(16, 16);
  clipper->SetWindow(&window);
  primary->SetClipper(clipper);
  PaintHalves(*offscreen);

  offscreen->MarkLost();
  SurfaceDesc desc;
  SurfaceDC dc;
  EXPECT_EQ(DDERR_SURFACELOST, offscreen->Lock(&desc));
  EXPECT_EQ(DDERR_SURFACELOST, offscreen->GetDC(&dc));
  EXPECT_EQ(DDERR_SURFACELOST, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 16, 16}));
  EXPECT_EQ(DD_OK, offscreen->Restore());
  ASSERT_EQ(DD_OK, offscreen->Lock(&desc));
  EXPECT_EQ(0, desc.surface[0]);  // the content went with the loss
  EXPECT_EQ(0, desc.surface[2]);
  offscreen->Unlock();

  PaintHalves(*offscreen);
  primary->MarkLost();
  EXPECT_EQ(DDERR_SURFACELOST, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 16, 16}));
  EXPECT_EQ(0u, window.PresentCount());
  EXPECT_EQ(DD_OK, primary->Restore());
  EXPECT_EQ(DD_OK, primary->Blt(Rect{0, 0, 16, 16}, *offscreen, Rect{0, 0, 16, 16}));
  EXPECT_EQ(0xFF0000u, window.PixelAt(0, 0));
}

TEST_F(DisplayTest, BusySurfaceRefusesItsOwnThreadAndFreesWithTheCanvas) {
  auto display = MakeDisplay(PixelFormat::Rgb32);
  std::unique_ptr<Surface> offscreen, primary;
  ASSERT_EQ(DD_OK, display->CreateOffscreenSurface(8, 8, &offscreen));
  ASSERT_EQ(DD_OK, display->CreatePrimarySurface(&primary));
  SurfaceDesc desc;
  EXPECT_EQ(DDERR_NOTLOCKED, offscreen->Unlock());
  EXPECT_EQ(DDERR_UNSUPPORTED, primary->Lock(&desc));

  ASSERT_EQ(DD_OK, offscreen->Lock(&desc));
  EXPECT_EQ(DDERR_SURFACEBUSY, offscreen->Lock(&desc));
  SurfaceDC dc;
  EXPECT_EQ(DDERR_SURFACEBUSY, offscreen->GetDC(&dc));
  EXPECT_EQ(DD_OK, offscreen->Unlock());

  ASSERT_EQ(DD_OK, offscreen->GetDC(&dc));
  dc->Fill(0x0000FF);
  EXPECT_EQ(DDERR_SURFACEBUSY, offscreen->Lock(&desc));
  dc.reset();  // dropping the canvas gives the surface back like ReleaseDC
  ASSERT_EQ(DD_OK, offscreen->Lock(&desc));
  EXPECT_EQ(0xFF, desc.surface[2]);  // red, written through the canvas
  offscreen->Unlock();
}

}  // namespace
}  // namespace platform
