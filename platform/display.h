#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/canvas.h"
#include "platform/geometry.h"
#include "platform/pixel_format.h"
#include "platform/window.h"

namespace platform {

// Results of the display operations, as HRESULTs: negative is failure.
using DisplayResult = int32_t;
constexpr DisplayResult DD_OK = 0;
constexpr DisplayResult DDERR_SURFACELOST = static_cast<int32_t>(0x887601C2u);
constexpr DisplayResult DDERR_SURFACEBUSY = static_cast<int32_t>(0x887601AEu);
constexpr DisplayResult DDERR_NOTLOCKED = static_cast<int32_t>(0x887602E6u);
constexpr DisplayResult DDERR_INVALIDRECT = static_cast<int32_t>(0x88760096u);
constexpr DisplayResult DDERR_NOCLIPLIST = static_cast<int32_t>(0x887600CDu);
constexpr DisplayResult DDERR_INVALIDPARAMS = static_cast<int32_t>(0x80070057u);
constexpr DisplayResult DDERR_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr DisplayResult DDERR_UNSUPPORTED = static_cast<int32_t>(0x80004001u);

// Flags of SurfacePixelFormat::flags.
constexpr uint32_t DDPF_PALETTEINDEXED8 = 0x20;
constexpr uint32_t DDPF_RGB = 0x40;

// The largest off-screen surface in either direction (the largest H.264 picture is 8192
// wide); larger requests fail rather than reserve gigabytes.
constexpr int32_t MAX_SURFACE_DIMENSION = 8192;

// The pixel format a locked surface reports, as a display driver describes it.
struct SurfacePixelFormat {
  uint32_t flags = 0;        // DDPF_RGB for the four RGB layouts
  uint32_t rgbBitCount = 0;  // 8, 16, 24 or 32
  uint32_t redMask = 0;      // 0x7C00 (5-5-5), 0xF800 (5-6-5), 0xFF0000 (24, 32), 0 (8-bit)
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;
};

SurfacePixelFormat DescribePixelFormat(PixelFormat format);

// What Lock hands out: the surface's first byte, its row step and its layout.
struct SurfaceDesc {
  uint8_t* surface = nullptr;
  int32_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  PixelFormat format = PixelFormat::Rgb32;
  SurfacePixelFormat pixelFormat;
};

// The format every new Display takes. Set, it holds for the whole process until reset;
// unset, it comes from the screen of the QGuiApplication if one exists (depth 16 gives
// Rgb565, 15 gives Rgb555, anything else Rgb32), else Rgb32.
// A worker thread cannot ask the screen, so it gets what the UI thread last saw there (the
// video widget looks when it is created), or Rgb32 before that.
void SetDisplayPixelFormat(PixelFormat format);
void ResetDisplayPixelFormat();
PixelFormat CurrentDisplayPixelFormat();
PixelFormat PixelFormatForScreenDepth(int32_t depth);

// Binds a primary surface's blits to a window: they land in its client area only.
class Clipper {
 public:
  DisplayResult SetWindow(Window* window);
  Window* GetWindow() const { return window.load(std::memory_order_acquire); }

 private:
  std::atomic<Window*> window{nullptr};
};

class Surface;

// Gives a surface back when a canvas obtained with GetDC goes away.
struct SurfaceDCRelease {
  Surface* surface = nullptr;
  void operator()(Canvas* canvas) const;
};
// A canvas on a surface's pixels. The surface stays busy (Lock and Blt wait) until it is
// destroyed or handed to ReleaseDC; it must not outlive its surface.
using SurfaceDC = std::unique_ptr<Canvas, SurfaceDCRelease>;

// A primary surface (the screen, seen through a clipper's window) or an off-screen surface
// of pixels in the display's format. Any thread may use a surface: Lock, GetDC and the blit
// wait while another thread has it busy.
class Surface {
 public:
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  bool IsPrimary() const { return primary; }
  int32_t Width() const { return width; }
  int32_t Height() const { return height; }
  PixelFormat Format() const { return format; }

  // Off-screen only: the whole surface for direct writing, until Unlock. Waits while the
  // surface is busy on another thread; fails with DDERR_SURFACEBUSY on the thread that has
  // it busy and with DDERR_SURFACELOST while it is lost.
  DisplayResult Lock(SurfaceDesc* desc);
  DisplayResult Unlock();

  // Off-screen only: a canvas with a fresh device context's settings on the pixels.
  DisplayResult GetDC(SurfaceDC* dc);
  DisplayResult ReleaseDC(SurfaceDC dc);

  // Primary only. The surface keeps its own reference to the clipper.
  DisplayResult SetClipper(std::shared_ptr<Clipper> clipper);

  // Primary only: stretches sourceRect of the off-screen source onto destRect, given in
  // screen coordinates, writing only into the client area of the clipper's window. Without
  // a clipper window nothing is drawn (there is no screen behind it). DDERR_SURFACELOST
  // when either surface is lost; an empty client area draws nothing and succeeds.
  DisplayResult Blt(const Rect& destRect, Surface& source, const Rect& sourceRect);

  // Makes a lost surface usable again; its pixels are black afterwards.
  DisplayResult Restore();

  // What a display mode change does to every surface; for tests and tools.
  void MarkLost() { lost.store(1, std::memory_order_release); }
  bool IsLost() const { return lost.load(std::memory_order_acquire) != 0; }

 private:
  friend class Display;
  friend struct SurfaceDCRelease;
  Surface(bool primary, int32_t width, int32_t height, int32_t pitch, PixelFormat format,
          std::unique_ptr<uint8_t[]> pixels);

  // Busy from Lock to Unlock, GetDC to ReleaseDC, and during a blit that reads it.
  bool Acquire();
  void ReleaseBusy();
  // The checks before pixels are handed out (Lock, GetDC): a plain surface, not lost, and
  // held by this thread. DD_OK leaves the surface busy for the caller.
  DisplayResult AcquireForAccess();

  const bool primary;
  const int32_t width;
  const int32_t height;
  const int32_t pitch;
  const PixelFormat format;
  std::unique_ptr<uint8_t[]> pixels;  // off-screen only
  std::atomic<int32_t> lost{0};

  std::mutex busyMutex;
  std::condition_variable busyChanged;
  bool busy = false;          // guarded by busyMutex
  std::thread::id busyOwner;  // guarded by busyMutex

  std::mutex clipperMutex;
  std::shared_ptr<Clipper> clipper;  // guarded by clipperMutex
};

// Stands for the display driver: its pixel format is fixed when it is created.
class Display {
 public:
  static DisplayResult Create(std::unique_ptr<Display>* display);

  PixelFormat Format() const { return format; }

  DisplayResult CreatePrimarySurface(std::unique_ptr<Surface>* surface);
  // Black pixels in the display's format; DDERR_INVALIDPARAMS for a size outside
  // 1..MAX_SURFACE_DIMENSION, DDERR_OUTOFMEMORY when the pixels cannot be had.
  DisplayResult CreateOffscreenSurface(int32_t width, int32_t height,
                                       std::unique_ptr<Surface>* surface);
  DisplayResult CreateClipper(std::shared_ptr<Clipper>* clipper);

 private:
  explicit Display(PixelFormat format) : format(format) {}
  const PixelFormat format;
};

}  // namespace platform
