#pragma once

#include <cstdint>

#include "platform/geometry.h"
#include "platform/pixel_format.h"

namespace platform {

// Stands for a window handle: what the players, the reader and the renderer need of a
// window. Every operation may be called from any thread and none of them waits for the
// window's own (UI) thread.
class Window {
 public:
  virtual ~Window() = default;

  // Queues a message for the window's thread and returns at once. wParam is 64 bits wide
  // so that file lengths and offsets of any size travel whole.
  virtual void PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) = 0;

  // The client area: left and top are 0.
  virtual Rect GetClientRect() const = 0;

  // Screen position of a point given in client coordinates.
  virtual Point ClientToScreen(Point clientPoint) const = 0;

  // Shows pixels in the client area: sourceRect of source is stretched onto destRect
  // (client coordinates, may reach outside the client area), and only the pixels inside
  // clipRect (client coordinates, within the client area) are written. One pass from the
  // source into the window's own pixels; the window repaints on its own thread later.
  virtual void Present(const PixelView& source, const Rect& sourceRect, const Rect& destRect,
                       const Rect& clipRect) = 0;

  // Drops the shown picture: the client area is black until the next Present.
  virtual void InvalidateErase() = 0;
};

}  // namespace platform
