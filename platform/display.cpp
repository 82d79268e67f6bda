#include "platform/display.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace platform {
namespace {

constexpr int32_t NO_FORMAT = -1;
std::atomic<int32_t> chosenFormat{NO_FORMAT};  // set by tests and tools
std::atomic<int32_t> screenFormat{NO_FORMAT};  // what the UI thread last saw on the screen

// Rows start on 64-byte boundaries, as display memory lays them out; callers must honour
// the pitch rather than assume width times bytes per pixel.
constexpr int64_t ROW_ALIGNMENT = 64;

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

SurfacePixelFormat DescribePixelFormat(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb555:
      return SurfacePixelFormat{DDPF_RGB, 16, 0x7C00, 0x03E0, 0x001F};
    case PixelFormat::Rgb565:
      return SurfacePixelFormat{DDPF_RGB, 16, 0xF800, 0x07E0, 0x001F};
    case PixelFormat::Rgb24:
      return SurfacePixelFormat{DDPF_RGB, 24, 0xFF0000, 0x00FF00, 0x0000FF};
    case PixelFormat::Rgb32:
      return SurfacePixelFormat{DDPF_RGB, 32, 0xFF0000, 0x00FF00, 0x0000FF};
    case PixelFormat::Palette8:
      return SurfacePixelFormat{DDPF_PALETTEINDEXED8, 8, 0, 0, 0};
  }
  return SurfacePixelFormat{};
}

void SetDisplayPixelFormat(PixelFormat format) {
  chosenFormat.store(static_cast<int32_t>(format), std::memory_order_release);
}

void ResetDisplayPixelFormat() {
  chosenFormat.store(NO_FORMAT, std::memory_order_release);
}

PixelFormat PixelFormatForScreenDepth(int32_t depth) {
  if (depth == 16) return PixelFormat::Rgb565;
  if (depth == 15) return PixelFormat::Rgb555;
  return PixelFormat::Rgb32;
}

PixelFormat CurrentDisplayPixelFormat() {
  const int32_t chosen = chosenFormat.load(std::memory_order_acquire);
  if (chosen != NO_FORMAT) return static_cast<PixelFormat>(chosen);
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app == nullptr) return PixelFormat::Rgb32;
  if (QThread::currentThread() == app->thread()) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const PixelFormat format =
        screen != nullptr ? PixelFormatForScreenDepth(screen->depth()) : PixelFormat::Rgb32;
    screenFormat.store(static_cast<int32_t>(format), std::memory_order_release);
    return format;
  }
  const int32_t seen = screenFormat.load(std::memory_order_acquire);
  return seen != NO_FORMAT ? static_cast<PixelFormat>(seen) : PixelFormat::Rgb32;
}

DisplayResult Clipper::SetWindow(Window* newWindow) {
  window.store(newWindow, std::memory_order_release);
  return DD_OK;
}

void SurfaceDCRelease::operator()(Canvas* canvas) const {
  delete canvas;
  if (surface != nullptr) surface->ReleaseBusy();
}

Surface::Surface(bool primary, int32_t width, int32_t height, int32_t pitch, PixelFormat format,
                 std::unique_ptr<uint8_t[]> pixels)
    : primary(primary),
      width(width),
      height(height),
      pitch(pitch),
      format(format),
      pixels(std::move(pixels)) {}

Surface::~Surface() = default;

bool Surface::Acquire() {
  std::unique_lock<std::mutex> lock(busyMutex);
  const std::thread::id self = std::this_thread::get_id();
  if (busy && busyOwner == self) return false;
  busyChanged.wait(lock, [this] { return !busy; });
  busy = true;
  busyOwner = self;
  return true;
}

void Surface::ReleaseBusy() {
  {
    std::lock_guard<std::mutex> lock(busyMutex);
    busy = false;
    busyOwner = std::thread::id();
  }
  busyChanged.notify_all();
}

DisplayResult Surface::AcquireForAccess() {
  if (primary) return DDERR_UNSUPPORTED;
  if (IsLost()) return DDERR_SURFACELOST;
  if (!Acquire()) return DDERR_SURFACEBUSY;
  // Lost while this thread waited for it.
  if (IsLost()) {
    ReleaseBusy();
    return DDERR_SURFACELOST;
  }
  return DD_OK;
}

DisplayResult Surface::Lock(SurfaceDesc* desc) {
  if (desc == nullptr) return DDERR_INVALIDPARAMS;
  if (const DisplayResult result = AcquireForAccess(); result != DD_OK) return result;
  desc->surface = pixels.get();
  desc->pitch = pitch;
  desc->width = width;
  desc->height = height;
  desc->format = format;
  desc->pixelFormat = DescribePixelFormat(format);
  return DD_OK;
}

DisplayResult Surface::Unlock() {
  {
    std::lock_guard<std::mutex> lock(busyMutex);
    if (!busy || busyOwner != std::this_thread::get_id()) return DDERR_NOTLOCKED;
  }
  ReleaseBusy();
  return DD_OK;
}

DisplayResult Surface::GetDC(SurfaceDC* dc) {
  if (dc == nullptr) return DDERR_INVALIDPARAMS;
  if (const DisplayResult result = AcquireForAccess(); result != DD_OK) return result;
  auto* canvas = new (std::nothrow) Canvas(pixels.get(), width, height, pitch, format);
  if (canvas == nullptr) {
    ReleaseBusy();
    return DDERR_OUTOFMEMORY;
  }
  *dc = SurfaceDC(canvas, SurfaceDCRelease{this});
  return DD_OK;
}

DisplayResult Surface::ReleaseDC(SurfaceDC dc) {
  if (!dc || dc.get_deleter().surface != this) return DDERR_INVALIDPARAMS;
  dc.reset();
  return DD_OK;
}

DisplayResult Surface::SetClipper(std::shared_ptr<Clipper> newClipper) {
  if (!primary) return DDERR_UNSUPPORTED;
  std::lock_guard<std::mutex> lock(clipperMutex);
  clipper = std::move(newClipper);
  return DD_OK;
}

DisplayResult Surface::Blt(const Rect& destRect, Surface& source, const Rect& sourceRect) {
  if (!primary || source.primary) return DDERR_UNSUPPORTED;
  if (IsLost() || source.IsLost()) return DDERR_SURFACELOST;
  std::shared_ptr<Clipper> bound;
  {
    std::lock_guard<std::mutex> lock(clipperMutex);
    bound = clipper;
  }
  Window* window = bound ? bound->GetWindow() : nullptr;
  if (window == nullptr) return DDERR_NOCLIPLIST;
  if (destRect.IsEmpty() || sourceRect.IsEmpty() ||
      Intersect(sourceRect, Rect{0, 0, source.width, source.height}) != sourceRect) {
    return DDERR_INVALIDRECT;
  }
  const Rect client = window->GetClientRect();
  if (client.IsEmpty()) return DD_OK;
  const Point origin = window->ClientToScreen(Point{0, 0});
  const Rect dest{Saturate(static_cast<int64_t>(destRect.left) - origin.x),
                  Saturate(static_cast<int64_t>(destRect.top) - origin.y),
                  Saturate(static_cast<int64_t>(destRect.right) - origin.x),
                  Saturate(static_cast<int64_t>(destRect.bottom) - origin.y)};
  if (dest.IsEmpty()) return DDERR_INVALIDRECT;

  if (!source.Acquire()) return DDERR_SURFACEBUSY;
  if (source.IsLost()) {
    source.ReleaseBusy();
    return DDERR_SURFACELOST;
  }
  window->Present(
      PixelView{source.pixels.get(), source.pitch, source.width, source.height, source.format},
      sourceRect, dest, client);
  source.ReleaseBusy();
  return DD_OK;
}

DisplayResult Surface::Restore() {
  if (!IsLost()) return DD_OK;
  if (primary) {
    lost.store(0, std::memory_order_release);
    return DD_OK;
  }
  if (!Acquire()) return DDERR_SURFACEBUSY;
  std::memset(pixels.get(), 0, static_cast<size_t>(pitch) * static_cast<size_t>(height));
  lost.store(0, std::memory_order_release);
  ReleaseBusy();
  return DD_OK;
}

DisplayResult Display::Create(std::unique_ptr<Display>* display) {
  if (display == nullptr) return DDERR_INVALIDPARAMS;
  display->reset(new (std::nothrow) Display(CurrentDisplayPixelFormat()));
  return *display ? DD_OK : DDERR_OUTOFMEMORY;
}

DisplayResult Display::CreatePrimarySurface(std::unique_ptr<Surface>* surface) {
  if (surface == nullptr) return DDERR_INVALIDPARAMS;
  surface->reset(new (std::nothrow) Surface(true, 0, 0, 0, format, nullptr));
  return *surface ? DD_OK : DDERR_OUTOFMEMORY;
}

DisplayResult Display::CreateOffscreenSurface(int32_t width, int32_t height,
                                              std::unique_ptr<Surface>* surface) {
  if (surface == nullptr) return DDERR_INVALIDPARAMS;
  if (width <= 0 || height <= 0 || width > MAX_SURFACE_DIMENSION ||
      height > MAX_SURFACE_DIMENSION) {
    return DDERR_INVALIDPARAMS;
  }
  const int64_t rowBytes = static_cast<int64_t>(width) * BytesPerPixel(format);
  const int64_t pitch = (rowBytes + ROW_ALIGNMENT - 1) / ROW_ALIGNMENT * ROW_ALIGNMENT;
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow)
                                        uint8_t[static_cast<size_t>(pitch * height)]());
  if (!pixels) return DDERR_OUTOFMEMORY;
  surface->reset(new (std::nothrow) Surface(false, width, height, static_cast<int32_t>(pitch),
                                            format, std::move(pixels)));
  return *surface ? DD_OK : DDERR_OUTOFMEMORY;
}

DisplayResult Display::CreateClipper(std::shared_ptr<Clipper>* clipper) {
  if (clipper == nullptr) return DDERR_INVALIDPARAMS;
  *clipper = std::make_shared<Clipper>();
  return DD_OK;
}

}  // namespace platform
