#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "platform/window.h"

// A message that a worker posted to the dialog, tagged with the generation of the playback
// context whose reader or player posted it.
class NotifierMessageEvent : public QEvent {
 public:
  NotifierMessageEvent(uint64_t generation, uint32_t message, uint64_t wParam, int64_t lParam);
  static QEvent::Type EventType();

  const uint64_t generation;
  const uint32_t message;
  const uint64_t wParam;
  const int64_t lParam;
};

// The notification window of one playback context: what the reader and the player hold as
// notifyWindow. PostMessage queues a NotifierMessageEvent for the receiver and returns at
// once, from any thread. The receiver must outlive the notifier, and the notifier must
// outlive the reader and the player that post through it. Nothing draws into it: it has no
// client area and ignores Present and InvalidateErase.
class ContextNotifier : public platform::Window {
 public:
  ContextNotifier(QObject* receiver, uint64_t generation);

  uint64_t Generation() const { return generation; }

  void PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) override;
  platform::Rect GetClientRect() const override;
  platform::Point ClientToScreen(platform::Point clientPoint) const override;
  void Present(const platform::PixelView& source, const platform::Rect& sourceRect,
               const platform::Rect& destRect, const platform::Rect& clipRect) override;
  void InvalidateErase() override;

 private:
  QObject* const receiver;
  const uint64_t generation;
};
