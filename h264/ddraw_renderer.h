#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/critical_section.h"
#include "platform/display.h"
#include "platform/geometry.h"
#include "platform/window.h"

// Shows planar YUV 4:2:0 pictures in a window: converts each straight into an off-screen
// surface in the display's format, writes the overlay text onto it, serves a pending
// snapshot, and stretches the picture's area onto the window's client area in one blit.
// Draws come from one thread at a time (the player serialises its decode thread and its
// Refresh callers); Close must not overlap a draw.
class CDDrawRenderer {
 public:
  // Size of the off-screen surface made by Init; DrawPicture enlarges it for larger pictures.
  static constexpr int32_t SURFACE_WIDTH = 1280;
  static constexpr int32_t SURFACE_HEIGHT = 720;

  CDDrawRenderer();
  ~CDDrawRenderer();
  CDDrawRenderer(const CDDrawRenderer&) = delete;
  CDDrawRenderer& operator=(const CDDrawRenderer&) = delete;

  // Creates the display, its surfaces and the clipper bound to window (stored in window
  // when that is still unset). Returns 1, or 0 when a step fails (among them a display
  // format no conversion writes, and no window); a renderer whose Init failed draws nothing.
  int Init(platform::Window* window);
  // Releases the display objects; runs once, later calls do nothing.
  void Close();
  // Shows one picture (Y rows of width bytes, U and V rows of width / 2 bytes). Returns 0
  // when there is nothing to draw with (no surfaces, Init failed, surface lost, no
  // picture), 1 otherwise; after Close has begun it returns 1 without drawing.
  int DrawPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t width,
                  int32_t height);
  // Copies at most 127 bytes of text and sets red text on no background at (10, 10).
  // osdOn is left as it is.
  void SetOsd(const char* text);

  int AttachClipper(platform::Window* window);
  // Takes the window's client area in screen coordinates into destRect.
  void UpdateDestRect();
  void DrawOsd();
  // Writes the top-left width x height pixels of the off-screen surface, overlay included,
  // as a JPEG file of quality 100 at snapshotPath, creating its missing directories.
  void TakeSnapshot(int32_t width, int32_t height);

  platform::Window* window = nullptr;  // written by the player before Init
  platform::Rect destRect;
  int32_t pixelMode = 0;  // 1: 5-5-5, 2: 5-6-5, 3: 24-bit, 4: 32-bit, 0: none
  std::unique_ptr<platform::Display> directDraw;
  std::unique_ptr<platform::Surface> primarySurface;
  std::unique_ptr<platform::Surface> offscreenSurface;
  std::atomic<int32_t> drawing{0};   // 1 while DrawPicture runs
  std::atomic<int32_t> released{0};  // 1 once Close has run; never cleared
  // The snapshot request: the player writes the path, then sets the flag, under the same
  // lock that serialises its draws; the next DrawPicture serves and clears it.
  std::string snapshotPath;
  std::atomic<int32_t> snapshotPending{0};
  // Overlay: written by SetOsd on the player's threads and read by DrawOsd, both under
  // osdLock; osdOn is one word that any thread writes.
  char osdText[128] = {};
  int32_t osdTextColour = 1;  // colour codes: 1 black, 2 yellow, 3 red, 4 white, 5 blue
  int32_t osdBackColour = 0;  // 0 transparent; 1 to 5 a box of the colours above
  std::atomic<int32_t> osdOn{0};
  int32_t osdX = 10;
  int32_t osdY = 10;

 private:
  // Makes the off-screen surface at least width x height (within the largest surface the
  // display gives); keeps the old one when a larger one cannot be had.
  void GrowOffscreenSurface(int32_t width, int32_t height);
  void ReleaseObjects();

  std::atomic<int32_t> initialised{0};  // 1 once Init has succeeded
  CCriticalSection osdLock;
};
