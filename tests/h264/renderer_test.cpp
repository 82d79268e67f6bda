#include "h264/ddraw_renderer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/display.h"
#include "platform/jpeg_codec.h"
#include "platform/memory_window.h"
#include "platform/stretch.h"
#include "tests/support/test_support.h"

namespace {

using platform::MemoryWindow;
using platform::PixelFormat;
using platform::Point;
using platform::Rect;

struct Yuv {
  uint8_t y, u, v;
};
// Limited-range triples and the 8-bit colours the fixed-point conversion makes of them.
constexpr Yuv RED{81, 90, 240};      // R 254, G 0, B 0
constexpr Yuv GREEN{145, 54, 34};    // R 0, G 255, B 0
constexpr Yuv BLUE{41, 240, 110};    // R 0, G 0, B 255
constexpr Yuv WHITE{235, 128, 128};  // R 255, G 255, B 255
constexpr Yuv GREY{126, 128, 128};   // R 128, G 128, B 128

// A picture buffer: Y rows, then U rows, then V rows, tightly packed.
struct Picture {
  int32_t width, height;
  std::vector<uint8_t> data;
  const uint8_t* Y() const { return data.data(); }
  const uint8_t* U() const { return data.data() + width * height; }
  const uint8_t* V() const { return U() + (width / 2) * (height / 2); }
};

// Quadrants: top-left a, top-right b, bottom-left c, bottom-right d.
Picture Quadrants(int32_t width, int32_t height, Yuv a = RED, Yuv b = GREEN, Yuv c = BLUE,
                  Yuv d = WHITE) {
  Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 3 / 2)};
  auto pick = [&](int32_t x, int32_t y) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    return bottom ? (right ? d : c) : (right ? b : a);
  };
  uint8_t* u = p.data.data() + width * height;
  uint8_t* v = u + (width / 2) * (height / 2);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) p.data[size_t(y) * width + x] = pick(x, y).y;
  for (int32_t y = 0; y < height / 2; ++y) {
    for (int32_t x = 0; x < width / 2; ++x) {
      u[y * (width / 2) + x] = pick(2 * x, 2 * y).u;
      v[y * (width / 2) + x] = pick(2 * x, 2 * y).v;
    }
  }
  return p;
}

Picture Solid(int32_t width, int32_t height, Yuv colour) {
  return Quadrants(width, height, colour, colour, colour, colour);
}

int Draw(CDDrawRenderer& renderer, const Picture& p) {
  return renderer.DrawPicture(p.Y(), p.U(), p.V(), p.width, p.height);
}

// 0x00RRGGBB of the surface pixel at (x, y), read the way the window widens it.
uint32_t SurfaceRgb(CDDrawRenderer& renderer, int32_t x, int32_t y) {
  platform::SurfaceDesc desc;
  EXPECT_EQ(platform::DD_OK, renderer.offscreenSurface->Lock(&desc));
  const uint32_t rgb = platform::UnpackPixel(
      desc.surface + y * desc.pitch + x * platform::BytesPerPixel(desc.format), desc.format);
  renderer.offscreenSurface->Unlock();
  return rgb;
}

void ExpectCornersOf(const MemoryWindow& window, uint32_t topLeft, uint32_t topRight,
                     uint32_t bottomLeft, uint32_t bottomRight) {
  const Rect r = window.GetClientRect();
  EXPECT_EQ(topLeft, window.PixelAt(1, 1));
  EXPECT_EQ(topRight, window.PixelAt(r.right - 2, 1));
  EXPECT_EQ(bottomLeft, window.PixelAt(1, r.bottom - 2));
  EXPECT_EQ(bottomRight, window.PixelAt(r.right - 2, r.bottom - 2));
}

class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetDisplayPixelFormat(PixelFormat::Rgb32); }
  void TearDown() override { platform::ResetDisplayPixelFormat(); }

  // A renderer bound to window as the player binds it.
  static void Start(CDDrawRenderer& renderer, MemoryWindow& window) {
    renderer.window = &window;
    ASSERT_EQ(1, renderer.Init(&window));
  }
};

// ---------------------------------------------------------------------------------------
// Each display format selects its conversion and the picture lands as exact bytes.

struct FormatCase {
  const char* name;
  PixelFormat format;
  int32_t pixelMode;
  std::vector<uint8_t> red, green, blue, white;  // one pixel as stored
};

class RendererFormats : public RendererTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RendererFormats, PictureLandsAsExactBytesAndIsShown) {
  const FormatCase& c = GetParam();
  platform::SetDisplayPixelFormat(c.format);
  MemoryWindow window(64, 32);
  CDDrawRenderer renderer;
  Start(renderer, window);
  EXPECT_EQ(c.pixelMode, renderer.pixelMode);

  const Picture picture = Quadrants(64, 32);
  ASSERT_EQ(1, Draw(renderer, picture));

  platform::SurfaceDesc desc;
  ASSERT_EQ(platform::DD_OK, renderer.offscreenSurface->Lock(&desc));
  const int32_t bpp = platform::BytesPerPixel(c.format);
  auto bytesAt = [&](int32_t x, int32_t y) {
    const uint8_t* p = desc.surface + y * desc.pitch + x * bpp;
    return std::vector<uint8_t>(p, p + bpp);
  };
  for (auto [x, y] : {std::pair{0, 0}, {31, 15}}) EXPECT_EQ(c.red, bytesAt(x, y));
  for (auto [x, y] : {std::pair{32, 0}, {63, 15}}) EXPECT_EQ(c.green, bytesAt(x, y));
  for (auto [x, y] : {std::pair{0, 16}, {31, 31}}) EXPECT_EQ(c.blue, bytesAt(x, y));
  for (auto [x, y] : {std::pair{32, 16}, {63, 31}}) EXPECT_EQ(c.white, bytesAt(x, y));
  // Beyond the picture the surface is as it was made: black.
  EXPECT_EQ(std::vector<uint8_t>(bpp, 0), bytesAt(64, 0));
  EXPECT_EQ(std::vector<uint8_t>(bpp, 0), bytesAt(0, 32));
  const platform::PixelFormat format = desc.format;
  renderer.offscreenSurface->Unlock();

  auto rgb = [&](const std::vector<uint8_t>& bytes) {
    return platform::UnpackPixel(bytes.data(), format);
  };
  ExpectCornersOf(window, rgb(c.red), rgb(c.green), rgb(c.blue), rgb(c.white));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RendererFormats,
    ::testing::Values(FormatCase{"Rgb555",
                                 PixelFormat::Rgb555,
                                 1,
                                 {0x00, 0x7C},
                                 {0xE0, 0x03},
                                 {0x1F, 0x00},
                                 {0xFF, 0x7F}},
                      // The 5-6-5 conversion keeps five bits of green in the six-bit field.
                      FormatCase{"Rgb565",
                                 PixelFormat::Rgb565,
                                 2,
                                 {0x00, 0xF8},
                                 {0xC0, 0x07},
                                 {0x1F, 0x00},
                                 {0xDF, 0xFF}},
                      FormatCase{"Rgb24",
                                 PixelFormat::Rgb24,
                                 3,
                                 {0x00, 0x00, 0xFE},
                                 {0x00, 0xFF, 0x00},
                                 {0xFF, 0x00, 0x00},
                                 {0xFF, 0xFF, 0xFF}},
                      FormatCase{"Rgb32",
                                 PixelFormat::Rgb32,
                                 4,
                                 {0x00, 0x00, 0xFE, 0x00},
                                 {0x00, 0xFF, 0x00, 0x00},
                                 {0xFF, 0x00, 0x00, 0x00},
                                 {0xFF, 0xFF, 0xFF, 0x00}}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

TEST_F(RendererTest, InitThatFailsLeavesARendererThatDrawsNothing) {
  const Picture picture = Quadrants(64, 32);
  {
    platform::SetDisplayPixelFormat(PixelFormat::Palette8);
    MemoryWindow window(64, 32);
    CDDrawRenderer renderer;
    renderer.window = &window;
    EXPECT_EQ(0, renderer.Init(&window));
    EXPECT_EQ(0, renderer.pixelMode);
    EXPECT_EQ(0, Draw(renderer, picture));
    EXPECT_EQ(0u, window.PresentCount());
  }
  {
    platform::SetDisplayPixelFormat(PixelFormat::Rgb32);
    CDDrawRenderer renderer;
    EXPECT_EQ(0, renderer.Init(nullptr));  // no window for the clipper
    EXPECT_EQ(0, Draw(renderer, picture));
  }
  {
    CDDrawRenderer renderer;  // never initialised
    EXPECT_EQ(0, Draw(renderer, picture));
  }
}

// ---------------------------------------------------------------------------------------
// Stretching over the client area, following the window.

TEST_F(RendererTest, PictureFillsTheSurfaceTopLeftAndIsStretchedOverTheClientArea) {
  for (auto [w, h] : {std::pair{640, 480}, {1280, 720}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    MemoryWindow window(800, 600);
    window.SetScreenPosition(Point{120, 80});
    CDDrawRenderer renderer;
    Start(renderer, window);
    EXPECT_EQ((Rect{120, 80, 920, 680}), renderer.destRect);

    ASSERT_EQ(1, Draw(renderer, Quadrants(w, h)));
    ExpectCornersOf(window, 0xFE0000, 0x00FF00, 0x0000FF, 0xFFFFFF);
    EXPECT_EQ(0xFE0000u, SurfaceRgb(renderer, 0, 0));
    EXPECT_EQ(0xFFFFFFu, SurfaceRgb(renderer, w - 1, h - 1));
    if (w < CDDrawRenderer::SURFACE_WIDTH) {
      EXPECT_EQ(0u, SurfaceRgb(renderer, w, 0));
      EXPECT_EQ(0u, SurfaceRgb(renderer, 0, h));
    }
  }
}

TEST_F(RendererTest, MovingOrResizingTheWindowMovesTheNextPicture) {
  MemoryWindow window(320, 240);
  CDDrawRenderer renderer;
  Start(renderer, window);
  ASSERT_EQ(1, Draw(renderer, Quadrants(640, 480)));
  ExpectCornersOf(window, 0xFE0000, 0x00FF00, 0x0000FF, 0xFFFFFF);

  window.SetScreenPosition(Point{500, 400});
  window.SetClientSize(200, 100);
  ASSERT_EQ(1, Draw(renderer, Quadrants(640, 480, WHITE, BLUE, GREEN, RED)));
  EXPECT_EQ((Rect{500, 400, 700, 500}), renderer.destRect);
  ExpectCornersOf(window, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFE0000);

  window.SetScreenPosition(Point{-50, 20});  // partly off the left of the screen
  ASSERT_EQ(1, Draw(renderer, Quadrants(640, 480)));
  ExpectCornersOf(window, 0xFE0000, 0x00FF00, 0x0000FF, 0xFFFFFF);
}

// ---------------------------------------------------------------------------------------
// Overlay text.

struct CellCheck {
  int32_t inkPixels = 0;       // pixels of exactly the ink colour inside the cell
  int32_t changedOutside = 0;  // pixels not grey outside the cell (with 2 px of margin)
  bool topRowAll = true;       // the cell's top row is all of the expected colour
};

// The window is the picture's size, so window pixels are surface pixels.
CellCheck CheckCell(const MemoryWindow& window, int32_t x, int32_t y, const std::string& text,
                    uint32_t ink, uint32_t topRow) {
  std::vector<uint32_t> scratch(4);
  platform::Canvas measure(reinterpret_cast<uint8_t*>(scratch.data()), 1, 1, 4, PixelFormat::Rgb32);
  measure.SelectFont(platform::FontSpec{"Arial", 20, 800});
  const platform::TextExtent extent = measure.GetTextExtent(text);
  CellCheck check;
  const Rect client = window.GetClientRect();
  for (int32_t py = 0; py < client.bottom; ++py) {
    for (int32_t px = 0; px < client.right; ++px) {
      const uint32_t pixel = window.PixelAt(px, py);
      const bool inCell = px >= x && px < x + extent.width && py >= y && py < y + extent.height;
      const bool nearCell =
          px >= x - 2 && px < x + extent.width + 2 && py >= y - 2 && py < y + extent.height + 2;
      if (inCell && pixel == ink) ++check.inkPixels;
      if (!nearCell && pixel != 0x808080) ++check.changedOutside;
      if (py == y && inCell && pixel != topRow) check.topRowAll = false;
    }
  }
  return check;
}

TEST_F(RendererTest, OverlayIsDrawnInRedAtTenTenOnlyWhenOn) {
  const std::string text = "2026-03-14 09:26:53";
  MemoryWindow window(320, 240);
  CDDrawRenderer renderer;
  Start(renderer, window);
  renderer.osdTextColour = 5;
  renderer.osdX = 70;
  renderer.SetOsd(text.c_str());
  EXPECT_EQ(3, renderer.osdTextColour);
  EXPECT_EQ(10, renderer.osdX);
  EXPECT_EQ(0, renderer.osdOn.load());  // SetOsd leaves the switch alone

  ASSERT_EQ(1, Draw(renderer, Solid(320, 240, GREY)));
  CellCheck off = CheckCell(window, 10, 10, text, 0xFF0000, 0x808080);
  EXPECT_EQ(0, off.inkPixels);
  EXPECT_EQ(0, off.changedOutside);

  renderer.osdOn = 1;
  ASSERT_EQ(1, Draw(renderer, Solid(320, 240, GREY)));
  CellCheck on = CheckCell(window, 10, 10, text, 0xFF0000, 0x808080);
  EXPECT_GT(on.inkPixels, 100);
  EXPECT_EQ(0, on.changedOutside);
  EXPECT_TRUE(on.topRowAll);  // transparent: no box
}

struct ColourCase {
  int32_t textCode, backCode;
  uint32_t ink;     // 0x00RRGGBB
  uint32_t topRow;  // the box colour, or grey when there is no box
};

TEST_F(RendererTest, ColourCodesSetTextAndBackgroundAsTheTableSays) {
  const std::string text = "10:20:30";
  const ColourCase cases[] = {
      {0, 0, 0x000000, 0x808080},  // text colour not set: a fresh canvas's black
      {6, 0, 0x000000, 0x808080},
      {3, 6, 0xFF0000, 0xFFFFFF},  // background not set: a fresh
                                   // canvas's opaque white
      {4, 5, 0xFFFFFF, 0x0000FF},
      {2, 1, 0xFFFF00, 0x000000},
      {5, 3, 0x0000FF, 0xFF0000},
      {1, 4, 0x000000, 0xFFFFFF},
      {9, 2, 0x000000, 0xFFFF00},
  };
  for (const ColourCase& c : cases) {
    SCOPED_TRACE("text " + std::to_string(c.textCode) + " back " + std::to_string(c.backCode));
    MemoryWindow window(200, 60);
    CDDrawRenderer renderer;
    Start(renderer, window);
    renderer.SetOsd(text.c_str());
    renderer.osdTextColour = c.textCode;
    renderer.osdBackColour = c.backCode;
    renderer.osdOn = 1;
    ASSERT_EQ(1, Draw(renderer, Solid(200, 60, GREY)));
    const CellCheck check = CheckCell(window, 10, 10, text, c.ink, c.topRow);
    EXPECT_GT(check.inkPixels, 30);
    EXPECT_TRUE(check.topRowAll);
    EXPECT_EQ(0, check.changedOutside);
  }
}

TEST_F(RendererTest, OverlayTextIsCutAt127BytesAndEmptyTextDrawsNothing) {
  MemoryWindow window(64, 32);
  CDDrawRenderer renderer;
  Start(renderer, window);
  const std::string longText(300, '8');
  renderer.SetOsd(longText.c_str());
  EXPECT_EQ(127u, std::strlen(renderer.osdText));
  EXPECT_EQ(3, renderer.osdTextColour);  // the member after the text is untouched

  renderer.SetOsd("");
  renderer.osdBackColour = 4;  // even an opaque box has no width
  renderer.osdOn = 1;
  ASSERT_EQ(1, Draw(renderer, Solid(64, 32, GREY)));
  EXPECT_EQ(std::vector<uint32_t>(64 * 32, 0x808080), window.ClientPixels());
  renderer.SetOsd(nullptr);
  EXPECT_EQ(0u, std::strlen(renderer.osdText));
  ASSERT_EQ(1, Draw(renderer, Solid(64, 32, GREY)));
}

// ---------------------------------------------------------------------------------------
// Lifecycle and recovery.

TEST_F(RendererTest, AfterCloseNothingIsDrawnAndASecondCloseDoesNothing) {
  MemoryWindow window(64, 32);
  CDDrawRenderer renderer;
  Start(renderer, window);
  const Picture picture = Quadrants(64, 32);
  ASSERT_EQ(1, Draw(renderer, picture));
  renderer.Close();
  EXPECT_EQ(1, renderer.released.load());
  EXPECT_EQ(nullptr, renderer.offscreenSurface);
  EXPECT_EQ(nullptr, renderer.directDraw);
  EXPECT_EQ(0, Draw(renderer, picture));
  renderer.Close();
  EXPECT_EQ(0, Draw(renderer, picture));
  EXPECT_EQ(1u, window.PresentCount());
}

TEST_F(RendererTest, LostSurfacesAreRestoredAndTheNextPictureShows) {
  MemoryWindow window(64, 32);
  CDDrawRenderer renderer;
  Start(renderer, window);

  // The off-screen surface is found lost by the lock: that picture is dropped.
  renderer.offscreenSurface->MarkLost();
  EXPECT_EQ(0, Draw(renderer, Quadrants(64, 32)));
  EXPECT_FALSE(renderer.offscreenSurface->IsLost());
  EXPECT_EQ(0u, window.PresentCount());
  ASSERT_EQ(1, Draw(renderer, Quadrants(64, 32)));
  ExpectCornersOf(window, 0xFE0000, 0x00FF00, 0x0000FF, 0xFFFFFF);

  // A mode change loses both; the blit reports it and both are restored.
  renderer.primarySurface->MarkLost();
  renderer.offscreenSurface->MarkLost();
  EXPECT_EQ(0, Draw(renderer, Solid(64, 32, WHITE)));
  renderer.primarySurface->MarkLost();
  EXPECT_EQ(1, Draw(renderer, Solid(64, 32, WHITE)));
  EXPECT_FALSE(renderer.primarySurface->IsLost());
  EXPECT_FALSE(renderer.offscreenSurface->IsLost());
  EXPECT_EQ(1u, window.PresentCount());
  ASSERT_EQ(1, Draw(renderer, Solid(64, 32, WHITE)));
  ExpectCornersOf(window, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF);
}

// ---------------------------------------------------------------------------------------
// Pictures larger than the first surface, and bad input.

TEST_F(RendererTest, LargePicturesAreShownWholeAndTheSurfaceNeverShrinks) {
  MemoryWindow window(640, 360);
  CDDrawRenderer renderer;
  Start(renderer, window);
  for (auto [w, h] : {std::pair{1920, 1080}, {2560, 1440}, {3840, 2160}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ASSERT_EQ(1, Draw(renderer, Quadrants(w, h)));
    EXPECT_GE(renderer.offscreenSurface->Width(), w);
    EXPECT_GE(renderer.offscreenSurface->Height(), h);
    ExpectCornersOf(window, 0xFE0000, 0x00FF00, 0x0000FF, 0xFFFFFF);
    EXPECT_EQ(0xFFFFFFu, SurfaceRgb(renderer, w - 1, h - 1));
  }
  ASSERT_EQ(1, Draw(renderer, Quadrants(640, 480, WHITE, BLUE, GREEN, RED)));
  EXPECT_EQ(3840, renderer.offscreenSurface->Width());
  EXPECT_EQ(2160, renderer.offscreenSurface->Height());
  ExpectCornersOf(window, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFE0000);
}

TEST_F(RendererTest, PictureBeyondTheLargestSurfaceShowsItsTopLeftPart) {
  MemoryWindow window(400, 20);
  CDDrawRenderer renderer;
  Start(renderer, window);
  const int32_t wide = platform::MAX_SURFACE_DIMENSION * 2;
  ASSERT_EQ(1, Draw(renderer, Quadrants(wide, 16)));
  EXPECT_EQ(platform::MAX_SURFACE_DIMENSION, renderer.offscreenSurface->Width());
  // The left half of the picture (all red over blue) is what fits.
  EXPECT_EQ(0xFE0000u, window.PixelAt(398, 1));
  EXPECT_EQ(0x0000FFu, window.PixelAt(398, 18));
}

TEST_F(RendererTest, BadSizesAndAnEmptyClientAreaDrawNothing) {
  MemoryWindow window(64, 32);
  CDDrawRenderer renderer;
  Start(renderer, window);
  const Picture picture = Quadrants(64, 32);
  for (auto [w, h] : {std::pair{0, 32}, {64, 0}, {-64, 32}, {64, -32}, {-1, -1}}) {
    EXPECT_EQ(0, renderer.DrawPicture(picture.Y(), picture.U(), picture.V(), w, h));
  }
  EXPECT_EQ(0, renderer.DrawPicture(nullptr, picture.U(), picture.V(), 64, 32));
  EXPECT_EQ(0u, window.PresentCount());

  window.SetClientSize(0, 0);
  EXPECT_EQ(1, Draw(renderer, picture));
  EXPECT_EQ(0u, window.PresentCount());
  window.SetClientSize(64, 32);
  EXPECT_EQ(1, Draw(renderer, picture));
  ExpectCornersOf(window, 0xFE0000, 0x00FF00, 0x0000FF, 0xFFFFFF);
}

// ---------------------------------------------------------------------------------------
// Snapshots.

struct SnapshotCase {
  PixelFormat format;
  int32_t width, height;
};

TEST_F(RendererTest, SnapshotWritesThePictureAtItsOwnSizeInEveryLayout) {
  const SnapshotCase cases[] = {{PixelFormat::Rgb32, 640, 480},
                                {PixelFormat::Rgb24, 104, 60},
                                {PixelFormat::Rgb565, 200, 100}};
  for (const SnapshotCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    platform::SetDisplayPixelFormat(c.format);
    testsupport::TempDir dir;
    MemoryWindow window(320, 240);
    CDDrawRenderer renderer;
    Start(renderer, window);
    const std::string path = dir.File("not/yet/there/shot.jpg");
    renderer.snapshotPath = path;
    renderer.snapshotPending = 1;

    // A draw that fails keeps the request for the next one.
    renderer.offscreenSurface->MarkLost();
    EXPECT_EQ(0, Draw(renderer, Quadrants(c.width, c.height)));
    EXPECT_EQ(1, renderer.snapshotPending.load());
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_EQ(1, Draw(renderer, Quadrants(c.width, c.height)));
    EXPECT_EQ(0, renderer.snapshotPending.load());
    const std::vector<uint8_t> jpeg = testsupport::ReadFileBytes(path);
    ASSERT_FALSE(jpeg.empty());
    const platform::DecodedImage image = platform::DecodeJpeg(jpeg.data(), jpeg.size());
    ASSERT_EQ(c.width, image.width);
    ASSERT_EQ(c.height, image.height);
    ASSERT_EQ(c.width, image.pixelWidth);
    auto near = [&](int32_t x, int32_t y, uint32_t rgb) {
      const uint8_t* p = image.pixels.data() + y * image.pitch + x * 4;
      return std::abs(p[2] - int((rgb >> 16) & 255)) < 24 &&
             std::abs(p[1] - int((rgb >> 8) & 255)) < 24 && std::abs(p[0] - int(rgb & 255)) < 24;
    };
    EXPECT_TRUE(near(2, 2, 0xFE0000));
    EXPECT_TRUE(near(c.width - 3, 2, 0x00FF00));
    EXPECT_TRUE(near(2, c.height - 3, 0x0000FF));
    EXPECT_TRUE(near(c.width - 3, c.height - 3, 0xFFFFFF));
  }
}

TEST_F(RendererTest, SnapshotContainsTheOverlayText) {
  testsupport::TempDir dir;
  MemoryWindow window(160, 120);
  CDDrawRenderer renderer;
  Start(renderer, window);
  renderer.SetOsd("88:88");
  renderer.osdOn = 1;
  renderer.snapshotPath = dir.File("shot.jpg");
  renderer.snapshotPending = 1;
  ASSERT_EQ(1, Draw(renderer, Solid(160, 120, WHITE)));
  const std::vector<uint8_t> jpeg = testsupport::ReadFileBytes(dir.File("shot.jpg"));
  const platform::DecodedImage image = platform::DecodeJpeg(jpeg.data(), jpeg.size());
  ASSERT_EQ(160, image.width);
  int32_t redInCell = 0, redElsewhere = 0;
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = image.pixels.data() + y * image.pitch + x * 4;
      const bool red = p[2] > 200 && p[1] < 80 && p[0] < 80;
      const bool inCell = x >= 8 && x < 80 && y >= 8 && y < 36;
      (inCell ? redInCell : redElsewhere) += red;
    }
  }
  EXPECT_GT(redInCell, 50);
  EXPECT_EQ(0, redElsewhere);
}

}  // namespace
