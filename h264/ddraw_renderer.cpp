#include "h264/ddraw_renderer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "h264/yuv_convert.h"
#include "platform/canvas.h"

namespace {

using ConvertFunction = void (*)(const uint8_t*, int32_t, const uint8_t*, const uint8_t*, int32_t,
                                 uint8_t*, int32_t, int32_t, int32_t);

ConvertFunction ConversionFor(int32_t pixelMode) {
  switch (pixelMode) {
    case 1:
      return Yuv420ToRgb555;
    case 2:
      return Yuv420ToRgb565;
    case 3:
      return Yuv420ToRgb24;
    case 4:
      return Yuv420ToRgb32;
    default:
      return nullptr;
  }
}

int32_t PixelModeFor(const platform::SurfacePixelFormat& format) {
  if ((format.flags & platform::DDPF_RGB) == 0) return 0;
  switch (format.rgbBitCount) {
    case 32:
      return 4;
    case 24:
      return 3;
    case 16:
      if (format.redMask == 0xF800) return 2;
      if (format.redMask == 0x7C00) return 1;
      return 0;
    default:
      return 0;
  }
}

// Colour codes as GDI colour references (0x00BBGGRR); index 0 is unused.
constexpr platform::ColorRef OSD_COLOURS[6] = {0x000000, 0x000000, 0x00FFFF,
                                               0x0000FF, 0xFFFFFF, 0xFF0000};

}  // namespace

CDDrawRenderer::CDDrawRenderer() = default;

CDDrawRenderer::~CDDrawRenderer() {
  Close();
}

void CDDrawRenderer::ReleaseObjects() {
  offscreenSurface.reset();
  primarySurface.reset();
  directDraw.reset();
}

int CDDrawRenderer::Init(platform::Window* targetWindow) {
  ReleaseObjects();
  initialised.store(0);
  pixelMode = 0;
  if (window == nullptr) window = targetWindow;

  if (platform::Display::Create(&directDraw) < 0) return 0;
  if (directDraw->CreatePrimarySurface(&primarySurface) < 0) return 0;
  if (directDraw->CreateOffscreenSurface(SURFACE_WIDTH, SURFACE_HEIGHT, &offscreenSurface) < 0) {
    return 0;
  }
  platform::SurfaceDesc desc;
  if (offscreenSurface->Lock(&desc) < 0) return 0;
  pixelMode = PixelModeFor(desc.pixelFormat);
  offscreenSurface->Unlock();
  if (pixelMode == 0) return 0;

  const int result = AttachClipper(targetWindow);
  initialised.store(result);
  return result;
}

int CDDrawRenderer::AttachClipper(platform::Window* targetWindow) {
  if (!primarySurface || !directDraw || targetWindow == nullptr) return 0;
  std::shared_ptr<platform::Clipper> clipper;
  if (directDraw->CreateClipper(&clipper) < 0) return 0;
  if (clipper->SetWindow(targetWindow) < 0) return 0;
  if (primarySurface->SetClipper(clipper) < 0) return 0;
  UpdateDestRect();
  return 1;
}

void CDDrawRenderer::UpdateDestRect() {
  if (window == nullptr) return;
  const platform::Rect client = window->GetClientRect();
  const platform::Point topLeft = window->ClientToScreen(platform::Point{client.left, client.top});
  const platform::Point bottomRight =
      window->ClientToScreen(platform::Point{client.right, client.bottom});
  destRect = platform::Rect{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

void CDDrawRenderer::GrowOffscreenSurface(int32_t width, int32_t height) {
  const int32_t haveWidth = offscreenSurface->Width();
  const int32_t haveHeight = offscreenSurface->Height();
  const int32_t wantWidth = std::min(std::max(width, haveWidth), platform::MAX_SURFACE_DIMENSION);
  const int32_t wantHeight =
      std::min(std::max(height, haveHeight), platform::MAX_SURFACE_DIMENSION);
  if (wantWidth == haveWidth && wantHeight == haveHeight) return;
  std::unique_ptr<platform::Surface> larger;
  if (directDraw->CreateOffscreenSurface(wantWidth, wantHeight, &larger) < 0) return;
  offscreenSurface = std::move(larger);
}

int CDDrawRenderer::DrawPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width,
                                int32_t height) {
  if (!primarySurface || !offscreenSurface) return 0;
  if (released.load()) return 1;
  if (!initialised.load()) return 0;
  if (y == nullptr || u == nullptr || v == nullptr || width <= 0 || height <= 0) return 0;
  drawing.store(1);

  GrowOffscreenSurface(width, height);
  platform::SurfaceDesc desc;
  if (offscreenSurface->Lock(&desc) < 0) {
    offscreenSurface->Restore();
    drawing.store(0);
    return 0;
  }
  // Only a picture beyond the largest surface is cut: its top-left part is shown.
  const int32_t shownWidth = std::min(width, desc.width);
  const int32_t shownHeight = std::min(height, desc.height);
  if (ConvertFunction convert = ConversionFor(pixelMode)) {
    convert(y, width, u, v, width / 2, desc.surface, shownWidth, shownHeight, desc.pitch);
  }
  offscreenSurface->Unlock();

  DrawOsd();
  // Cleared before the snapshot is taken, so a request made meanwhile waits for the next.
  if (snapshotPending.exchange(0)) TakeSnapshot(shownWidth, shownHeight);

  UpdateDestRect();
  const platform::DisplayResult result = primarySurface->Blt(
      destRect, *offscreenSurface, platform::Rect{0, 0, shownWidth, shownHeight});
  if (result == platform::DDERR_SURFACELOST) {
    primarySurface->Restore();
    offscreenSurface->Restore();
  }
  drawing.store(0);
  return 1;
}

void CDDrawRenderer::DrawOsd() {
  if (!osdOn.load()) return;
  char text[sizeof osdText];
  int32_t textColour, backColour, x, y;
  {
    CriticalSectionGuard guard(osdLock);
    std::memcpy(text, osdText, sizeof text);
    textColour = osdTextColour;
    backColour = osdBackColour;
    x = osdX;
    y = osdY;
  }
  text[sizeof text - 1] = '\0';

  platform::SurfaceDC dc;
  if (offscreenSurface->GetDC(&dc) < 0) return;
  dc->SelectFont(platform::FontSpec{"Arial", 20, 800});
  if (textColour >= 1 && textColour <= 5) dc->SetTextColor(OSD_COLOURS[textColour]);
  if (backColour == 0) {
    dc->SetBkMode(platform::BackgroundMode::Transparent);
    dc->SetBkColor(0x000000);
  } else if (backColour >= 1 && backColour <= 5) {
    dc->SetBkColor(OSD_COLOURS[backColour]);
  }
  dc->TextOut(x, y, std::string_view(text, std::strlen(text)));
  offscreenSurface->ReleaseDC(std::move(dc));
}

void CDDrawRenderer::SetOsd(const char* text) {
  CriticalSectionGuard guard(osdLock);
  const size_t length = text != nullptr ? strnlen(text, sizeof osdText - 1) : 0;
  if (length > 0) std::memcpy(osdText, text, length);
  std::memset(osdText + length, 0, sizeof osdText - length);
  osdTextColour = 3;
  osdBackColour = 0;
  osdX = 10;
  osdY = 10;
}

void CDDrawRenderer::Close() {
  if (released.exchange(1)) return;
  if (drawing.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ReleaseObjects();
  initialised.store(0);
}
