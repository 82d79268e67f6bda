#include "platform/memory_window.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

const uint32_t kTwoByOne[2] = {0x00112233, 0x00445566};
const PixelView kSource{reinterpret_cast<const uint8_t*>(kTwoByOne), 8, 2, 1, PixelFormat::Rgb32};

TEST(MemoryWindow, RecordsMessagesAndGeometry) {
  MemoryWindow window(30, 20);
  window.SetScreenPosition(Point{300, 200});
  window.PostMessage(1224, 2, 0);
  window.PostMessage(1325, 1ull << 40, -1);
  window.PostMessage(1224, 1, 0);
  EXPECT_EQ(3u, window.Messages().size());
  const auto sizes = window.MessagesOf(1224);
  ASSERT_EQ(2u, sizes.size());
  EXPECT_EQ(2u, sizes[0].wParam);
  EXPECT_EQ(1u, sizes[1].wParam);
  EXPECT_EQ(1ull << 40, window.MessagesOf(1325)[0].wParam);
  EXPECT_EQ((Rect{0, 0, 30, 20}), window.GetClientRect());
  EXPECT_EQ(310, window.ClientToScreen(Point{10, 5}).x);
  EXPECT_EQ(205, window.ClientToScreen(Point{10, 5}).y);
}

TEST(MemoryWindow, PresentWritesInsideTheClipAndEraseOrResizeMakesItBlack) {
  MemoryWindow window(4, 2);
  window.Present(kSource, Rect{0, 0, 2, 1}, Rect{0, 0, 4, 2}, Rect{1, 0, 4, 1});
  EXPECT_EQ(0u, window.PixelAt(0, 0));  // left of the clip
  EXPECT_EQ(0x112233u, window.PixelAt(1, 0));
  EXPECT_EQ(0x445566u, window.PixelAt(3, 0));
  EXPECT_EQ(0u, window.PixelAt(3, 1));  // below the clip
  EXPECT_EQ(1u, window.PresentCount());

  window.InvalidateErase();
  EXPECT_EQ(0u, window.PixelAt(3, 0));
  EXPECT_EQ(1u, window.EraseCount());

  window.Present(kSource, Rect{0, 0, 2, 1}, Rect{0, 0, 4, 2}, Rect{0, 0, 4, 2});
  window.SetClientSize(5, 5);
  EXPECT_EQ(std::vector<uint32_t>(25, 0u), window.ClientPixels());
  window.SetClientSize(-3, 4);  // an impossible size is an empty client area
  EXPECT_TRUE(window.GetClientRect().IsEmpty());
  window.Present(kSource, Rect{0, 0, 2, 1}, Rect{0, 0, 4, 2}, Rect{0, 0, 4, 2});
  EXPECT_TRUE(window.ClientPixels().empty());
}

TEST(MemoryWindow, WaitForWakesOnAPresentFromAnotherThread) {
  MemoryWindow window(2, 1);
  std::thread presenter([&] {
    window.Present(kSource, Rect{0, 0, 2, 1}, Rect{0, 0, 2, 1}, Rect{0, 0, 2, 1});
  });
  EXPECT_TRUE(
      window.WaitFor([&] { return window.PixelAt(1, 0) == 0x445566u; }, std::chrono::seconds(20)));
  presenter.join();
  EXPECT_FALSE(window.WaitFor([] { return false; }, std::chrono::milliseconds(1)));
}

}  // namespace
}  // namespace platform
