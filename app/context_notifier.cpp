#include "app/context_notifier.h"

#include <QCoreApplication>

NotifierMessageEvent::NotifierMessageEvent(uint64_t generation, uint32_t message, uint64_t wParam,
                                           int64_t lParam)
    : QEvent(EventType()),
      generation(generation),
      message(message),
      wParam(wParam),
      lParam(lParam) {}

QEvent::Type NotifierMessageEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

ContextNotifier::ContextNotifier(QObject* receiver, uint64_t generation)
    : receiver(receiver), generation(generation) {}

void ContextNotifier::PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) {
  QCoreApplication::postEvent(receiver,
                              new NotifierMessageEvent(generation, message, wParam, lParam));
}

platform::Rect ContextNotifier::GetClientRect() const {
  return platform::Rect{};
}

platform::Point ContextNotifier::ClientToScreen(platform::Point clientPoint) const {
  return clientPoint;
}

void ContextNotifier::Present(const platform::PixelView&, const platform::Rect&,
                              const platform::Rect&, const platform::Rect&) {}

void ContextNotifier::InvalidateErase() {}
