#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/window.h"

namespace platform {

// A window that lives in memory: a settable client size and screen position, every
// posted message recorded, and the presented client pixels kept (0x00RRGGBB each, black
// at first and after an erase). For tests and for the headless tool.
class MemoryWindow final : public Window {
 public:
  struct Message {
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
  };
  // Called inside Present, before the window's pixels change, with what was handed in.
  using PresentObserver = std::function<void(const PixelView& source, const Rect& sourceRect)>;

  MemoryWindow(int32_t clientWidth, int32_t clientHeight);

  void PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) override;
  Rect GetClientRect() const override;
  Point ClientToScreen(Point clientPoint) const override;
  void Present(const PixelView& source, const Rect& sourceRect, const Rect& destRect,
               const Rect& clipRect) override;
  void InvalidateErase() override;

  // Resizing keeps nothing of the old pixels: the new client area is black.
  void SetClientSize(int32_t clientWidth, int32_t clientHeight);
  void SetScreenPosition(Point clientOrigin);
  void SetPresentObserver(PresentObserver observer);

  std::vector<Message> Messages() const;
  std::vector<Message> MessagesOf(uint32_t message) const;
  std::vector<uint32_t> ClientPixels() const;  // row-major, client width x client height
  uint32_t PixelAt(int32_t x, int32_t y) const;
  uint64_t PresentCount() const;
  uint64_t EraseCount() const;

  // Waits until predicate() holds, re-testing after every message, present and erase.
  // Returns the predicate's last value once it holds or the guard has passed.
  bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds guard) const;

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  int32_t width;
  int32_t height;
  Point origin;
  std::vector<uint32_t> pixels;
  std::vector<Message> messages;
  uint64_t presents = 0;
  uint64_t erases = 0;
  PresentObserver observer;
};

}  // namespace platform
