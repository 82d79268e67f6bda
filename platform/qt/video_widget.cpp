#include "platform/qt/video_widget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cstring>

#include "platform/display.h"
#include "platform/stretch.h"

namespace platform {
namespace {

const QEvent::Type POSTED_MESSAGE_EVENT = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessageEvent : public QEvent {
 public:
  PostedMessageEvent(uint32_t message, uint64_t wParam, int64_t lParam)
      : QEvent(POSTED_MESSAGE_EVENT), message(message), wParam(wParam), lParam(lParam) {}
  const uint32_t message;
  const uint64_t wParam;
  const int64_t lParam;
};

// Starts image from what is shown, for a present that writes only part of the client area;
// whatever shown does not cover is black.
void CopyShown(const QImage& shown, QImage* image) {
  image->fill(0xFF000000u);
  if (shown.isNull()) return;
  const int rows = std::min(shown.height(), image->height());
  const size_t rowBytes = static_cast<size_t>(std::min(shown.width(), image->width())) * 4;
  for (int row = 0; row < rows; ++row) {
    std::memcpy(image->scanLine(row), shown.constScanLine(row), rowBytes);
  }
}

}  // namespace

VideoWidget::VideoWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Renderers are made on worker threads, which cannot ask the screen for its depth; the
  // widget is made on the UI thread, so it looks now and the answer is kept for them.
  CurrentDisplayPixelFormat();
  WatchAncestors();
  UpdateGeometry();
}

VideoWidget::~VideoWidget() = default;

void VideoWidget::PostMessage(uint32_t message, uint64_t wParam, int64_t lParam) {
  QCoreApplication::postEvent(this, new PostedMessageEvent(message, wParam, lParam));
}

Rect VideoWidget::GetClientRect() const {
  std::lock_guard<std::mutex> guard(geometryMutex);
  return client;
}

Point VideoWidget::ClientToScreen(Point clientPoint) const {
  std::lock_guard<std::mutex> guard(geometryMutex);
  return Point{clientPoint.x + origin.x, clientPoint.y + origin.y};
}

void VideoWidget::Present(const PixelView& source, const Rect& sourceRect, const Rect& destRect,
                          const Rect& clipRect) {
  std::lock_guard<std::mutex> presenting(presentMutex);
  const Rect area = GetClientRect();
  const Rect written = Intersect(Intersect(clipRect, destRect), area);
  if (written.IsEmpty()) return;

  const QSize size(area.Width(), area.Height());
  if (back.size() != size) back = QImage(size, QImage::Format_RGB32);
  if (back.isNull()) return;
  if (written != area) {
    QImage shown;
    {
      std::lock_guard<std::mutex> guard(pictureMutex);
      shown = front;
    }
    CopyShown(shown, &back);
  }
  // bits() copies the image first if the UI thread still holds it from an earlier paint.
  StretchToOpaqueRgb32(source, sourceRect, back.bits(), static_cast<int32_t>(back.bytesPerLine()),
                       area.Width(), area.Height(), destRect, written);
  {
    std::lock_guard<std::mutex> guard(pictureMutex);
    std::swap(front, back);
  }
  QMetaObject::invokeMethod(
      this, [this] { update(); }, Qt::QueuedConnection);
}

void VideoWidget::InvalidateErase() {
  {
    std::lock_guard<std::mutex> guard(pictureMutex);
    front = QImage();
  }
  QMetaObject::invokeMethod(
      this, [this] { update(); }, Qt::QueuedConnection);
}

QImage VideoWidget::CurrentPicture() const {
  std::lock_guard<std::mutex> guard(pictureMutex);
  return front;
}

bool VideoWidget::event(QEvent* e) {
  if (e->type() == POSTED_MESSAGE_EVENT) {
    auto* posted = static_cast<PostedMessageEvent*>(e);
    emit MessagePosted(posted->message, posted->wParam, posted->lParam);
    return true;
  }
  if (e->type() == QEvent::ParentChange) {
    WatchAncestors();
    UpdateGeometry();
  }
  return QWidget::event(e);
}

bool VideoWidget::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Move || e->type() == QEvent::Resize || e->type() == QEvent::Show) {
    UpdateGeometry();
  }
  return QWidget::eventFilter(watched, e);
}

void VideoWidget::paintEvent(QPaintEvent* e) {
  QImage shown = CurrentPicture();
  QPainter painter(this);
  if (shown.isNull()) {
    painter.fillRect(e->rect(), Qt::black);
    return;
  }
  painter.drawImage(0, 0, shown);
  // After a resize the last picture may not cover the widget until the next one comes.
  const QRegion uncovered = QRegion(rect()) - QRegion(shown.rect());
  for (const QRect& r : uncovered) painter.fillRect(r, Qt::black);
}

void VideoWidget::resizeEvent(QResizeEvent* e) {
  UpdateGeometry();
  QWidget::resizeEvent(e);
}

void VideoWidget::moveEvent(QMoveEvent* e) {
  UpdateGeometry();
  QWidget::moveEvent(e);
}

void VideoWidget::showEvent(QShowEvent* e) {
  UpdateGeometry();
  QWidget::showEvent(e);
}

void VideoWidget::UpdateGeometry() {
  const QPoint topLeft = mapToGlobal(QPoint(0, 0));
  std::lock_guard<std::mutex> guard(geometryMutex);
  client = Rect{0, 0, width(), height()};
  origin = Point{topLeft.x(), topLeft.y()};
}

void VideoWidget::WatchAncestors() {
  for (QWidget* ancestor = parentWidget(); ancestor != nullptr;
       ancestor = ancestor->parentWidget()) {
    // Installing twice moves the filter to the front; it is still called once.
    ancestor->installEventFilter(this);
  }
}

}  // namespace platform
