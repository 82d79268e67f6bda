#include "platform/qt/video_widget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace platform {
namespace {

// Counts the paints that really reach the widget, to see that a queued repaint came.
class CountingVideoWidget : public VideoWidget {
 public:
  using VideoWidget::VideoWidget;
  std::atomic<int> paints{0};

 protected:
  void paintEvent(QPaintEvent* e) override {
    VideoWidget::paintEvent(e);
    ++paints;
  }
};

// Left half left, right half right, as 32-bit source pixels.
struct TwoColours {
  std::vector<uint32_t> pixels;
  PixelView view;
  TwoColours(uint32_t left, uint32_t right) : pixels{left, right} {
    view = PixelView{reinterpret_cast<const uint8_t*>(pixels.data()), 8, 2, 1, PixelFormat::Rgb32};
  }
};

QRgb Shown(QWidget& widget, int x, int y) {
  return widget.grab().toImage().pixel(x, y) & 0xFFFFFFu;
}

constexpr int kGuardMs = 20000;

void PresentWhole(Window& window, const PixelView& source) {
  const Rect client = window.GetClientRect();
  window.Present(source, Rect{0, 0, source.width, source.height}, client, client);
}

TEST(VideoWidget, BlackUntilAPictureComesAndAgainAfterAnErase) {
  CountingVideoWidget widget;
  widget.resize(80, 60);
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
  EXPECT_EQ(0x000000u, Shown(widget, 40, 30));
  EXPECT_TRUE(widget.CurrentPicture().isNull());

  const int paintsBefore = widget.paints;
  TwoColours source(0x00FF0000, 0x000000FF);
  std::thread worker([&] { PresentWhole(widget, source.view); });
  worker.join();
  // The repaint was asked for from the worker; it must arrive by the event loop alone.
  EXPECT_TRUE(QTest::qWaitFor([&] { return widget.paints > paintsBefore; }, kGuardMs));
  EXPECT_EQ(0xFF0000u, Shown(widget, 2, 30));
  EXPECT_EQ(0x0000FFu, Shown(widget, 77, 30));

  widget.InvalidateErase();
  EXPECT_EQ(0x000000u, Shown(widget, 2, 30));
  EXPECT_EQ(0x000000u, Shown(widget, 77, 30));
}

TEST(VideoWidget, PresentNeverWaitsForTheUiThread) {
  VideoWidget widget;
  widget.resize(64, 48);
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
  TwoColours red(0x00FF0000, 0x00FF0000), green(0x0000FF00, 0x0000FF00);

  // The UI thread does not run its event loop while the worker presents and posts.
  auto worker = std::async(std::launch::async, [&] {
    for (int i = 0; i < 20; ++i) {
      PresentWhole(widget, (i % 2 ? green : red).view);
      widget.PostMessage(1325, i, 0);
    }
  });
  ASSERT_EQ(std::future_status::ready, worker.wait_for(std::chrono::milliseconds(kGuardMs)));
  worker.get();
  EXPECT_EQ(0x00FF00u, Shown(widget, 32, 24));  // the last one presented
}

TEST(VideoWidget, PostedMessagesArriveInOrderOnTheUiThread) {
  VideoWidget widget;
  std::vector<std::pair<quint32, quint64>> received;
  bool allOnUiThread = true;
  QObject::connect(&widget, &VideoWidget::MessagePosted,
                   [&](quint32 message, quint64 wParam, qint64) {
                     received.emplace_back(message, wParam);
                     allOnUiThread &= QThread::currentThread() == qApp->thread();
                   });
  std::thread worker([&] {
    widget.PostMessage(1324, 5ull << 33, 0);
    widget.PostMessage(1325, 7, 0);
    widget.PostMessage(1224, 2, 0);
  });
  worker.join();
  EXPECT_TRUE(received.empty());  // nothing is delivered before the event loop runs
  ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 3; }, kGuardMs));
  EXPECT_EQ((std::pair<quint32, quint64>{1324, 5ull << 33}), received[0]);
  EXPECT_EQ((std::pair<quint32, quint64>{1325, 7}), received[1]);
  EXPECT_EQ((std::pair<quint32, quint64>{1224, 2}), received[2]);
  EXPECT_TRUE(allOnUiThread);
}

TEST(VideoWidget, ClientAreaFollowsTheWidgetAndItsParent) {
  QWidget top;
  top.setGeometry(100, 80, 300, 200);
  VideoWidget* video = new VideoWidget(&top);
  video->setGeometry(20, 30, 160, 90);
  top.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));

  EXPECT_EQ((Rect{0, 0, 160, 90}), video->GetClientRect());
  auto expectOrigin = [&] {
    const QPoint global = video->mapToGlobal(QPoint(0, 0));
    const Point origin = video->ClientToScreen(Point{0, 0});
    EXPECT_EQ(global.x(), origin.x);
    EXPECT_EQ(global.y(), origin.y);
  };
  expectOrigin();

  top.move(250, 170);  // only the parent moves
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return video->ClientToScreen(Point{0, 0}).x == video->mapToGlobal(QPoint(0, 0)).x();
      },
      kGuardMs));
  expectOrigin();

  video->setGeometry(0, 0, 120, 40);
  EXPECT_EQ((Rect{0, 0, 120, 40}), video->GetClientRect());
  expectOrigin();
}

TEST(VideoWidget, PresentOfPartOfTheClientAreaKeepsTheRest) {
  VideoWidget widget;
  widget.resize(40, 20);
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
  TwoColours red(0x00FF0000, 0x00FF0000), blue(0x000000FF, 0x000000FF),
      white(0x00FFFFFF, 0x00FFFFFF);
  PresentWhole(widget, red.view);
  PresentWhole(widget, white.view);  // the back image now holds an older picture
  widget.Present(blue.view, Rect{0, 0, 2, 1}, Rect{0, 0, 40, 20}, Rect{0, 0, 20, 20});
  EXPECT_EQ(0x0000FFu, Shown(widget, 5, 10));
  EXPECT_EQ(0xFFFFFFu, Shown(widget, 35, 10));

  // A present that leaves part of the client area unwritten after an erase: that part is
  // black.
  widget.InvalidateErase();
  widget.Present(blue.view, Rect{0, 0, 2, 1}, Rect{0, 0, 40, 20}, Rect{20, 0, 40, 20});
  EXPECT_EQ(0x000000u, Shown(widget, 5, 10));
  EXPECT_EQ(0x0000FFu, Shown(widget, 35, 10));
}

}  // namespace
}  // namespace platform
