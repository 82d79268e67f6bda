#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <mutex>

#include "platform/window.h"

namespace platform {

// The window the players draw into: a widget that is also a platform::Window. Black until
// the first picture and again after InvalidateErase; otherwise it shows the last presented
// pixels. Present may come from any thread and never waits for the UI thread: it stretches
// into a back image of its own, swaps it in under a short lock and asks for a queued
// repaint. Messages posted to it arrive on the UI thread as MessagePosted, in order.
class VideoWidget : public QWidget, public Window {
  Q_OBJECT

 public:
  explicit VideoWidget(QWidget* parent = nullptr);
  ~VideoWidget() override;

  void PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) override;
  Rect GetClientRect() const override;
  Point ClientToScreen(Point clientPoint) const override;
  void Present(const PixelView& source, const Rect& sourceRect, const Rect& destRect,
               const Rect& clipRect) override;
  void InvalidateErase() override;

  // The pixels the next paint shows (opaque RGB32); a null image while the widget is black.
  QImage CurrentPicture() const;

 signals:
  void MessagePosted(quint32 message, quint64 wParam, qint64 lParam);

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  // UI thread: copies the size and screen position that other threads read.
  void UpdateGeometry();
  // UI thread: follows moves of every ancestor, which move the client area on the screen.
  void WatchAncestors();

  mutable std::mutex geometryMutex;
  Rect client;   // guarded by geometryMutex
  Point origin;  // guarded by geometryMutex; screen position of the client's top-left

  std::mutex presentMutex;  // one Present at a time
  QImage back;              // guarded by presentMutex; only Present writes into it

  mutable std::mutex pictureMutex;  // held only to copy or swap an image handle
  QImage front;                     // guarded by pictureMutex; what paint shows
};

}  // namespace platform
