#include "platform/memory_window.h"

#include <algorithm>

#include "platform/stretch.h"

namespace platform {

MemoryWindow::MemoryWindow(int32_t clientWidth, int32_t clientHeight)
    : width(std::max(clientWidth, 0)),
      height(std::max(clientHeight, 0)),
      pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 0u) {}

void MemoryWindow::PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) {
  {
    std::lock_guard<std::mutex> guard(mutex);
    messages.push_back(Message{message, wParam, lParam});
  }
  changed.notify_all();
}

Rect MemoryWindow::GetClientRect() const {
  std::lock_guard<std::mutex> guard(mutex);
  return Rect{0, 0, width, height};
}

Point MemoryWindow::ClientToScreen(Point clientPoint) const {
  std::lock_guard<std::mutex> guard(mutex);
  return Point{clientPoint.x + origin.x, clientPoint.y + origin.y};
}

void MemoryWindow::Present(const PixelView& source, const Rect& sourceRect, const Rect& destRect,
                           const Rect& clipRect) {
  PresentObserver observe;
  {
    std::lock_guard<std::mutex> guard(mutex);
    observe = observer;
  }
  if (observe) observe(source, sourceRect);
  {
    std::lock_guard<std::mutex> guard(mutex);
    StretchToRgb32(source, sourceRect, reinterpret_cast<uint8_t*>(pixels.data()), width * 4, width,
                   height, destRect, clipRect);
    ++presents;
  }
  changed.notify_all();
}

void MemoryWindow::InvalidateErase() {
  {
    std::lock_guard<std::mutex> guard(mutex);
    std::fill(pixels.begin(), pixels.end(), 0u);
    ++erases;
  }
  changed.notify_all();
}

void MemoryWindow::SetClientSize(int32_t clientWidth, int32_t clientHeight) {
  std::lock_guard<std::mutex> guard(mutex);
  width = std::max(clientWidth, 0);
  height = std::max(clientHeight, 0);
  pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
}

void MemoryWindow::SetScreenPosition(Point clientOrigin) {
  std::lock_guard<std::mutex> guard(mutex);
  origin = clientOrigin;
}

void MemoryWindow::SetPresentObserver(PresentObserver newObserver) {
  std::lock_guard<std::mutex> guard(mutex);
  observer = std::move(newObserver);
}

std::vector<MemoryWindow::Message> MemoryWindow::Messages() const {
  std::lock_guard<std::mutex> guard(mutex);
  return messages;
}

std::vector<MemoryWindow::Message> MemoryWindow::MessagesOf(uint32_t message) const {
  std::lock_guard<std::mutex> guard(mutex);
  std::vector<Message> result;
  for (const Message& m : messages) {
    if (m.message == message) result.push_back(m);
  }
  return result;
}

std::vector<uint32_t> MemoryWindow::ClientPixels() const {
  std::lock_guard<std::mutex> guard(mutex);
  return pixels;
}

uint32_t MemoryWindow::PixelAt(int32_t x, int32_t y) const {
  std::lock_guard<std::mutex> guard(mutex);
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

uint64_t MemoryWindow::PresentCount() const {
  std::lock_guard<std::mutex> guard(mutex);
  return presents;
}

uint64_t MemoryWindow::EraseCount() const {
  std::lock_guard<std::mutex> guard(mutex);
  return erases;
}

bool MemoryWindow::WaitFor(const std::function<bool()>& predicate,
                           std::chrono::milliseconds guard) const {
  auto deadline = std::chrono::steady_clock::now() + guard;
  std::unique_lock<std::mutex> lock(mutex);
  while (true) {
    lock.unlock();
    bool done = predicate();
    lock.lock();
    if (done) return true;
    // Short waits as well, so a predicate that watches something other than this window
    // (a file, another thread's state) is still seen soon.
    auto wake =
        std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
    if (changed.wait_until(lock, wake) == std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return predicate();
    }
  }
}

}  // namespace platform
