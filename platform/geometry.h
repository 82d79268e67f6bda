#pragma once

#include <algorithm>
#include <cstdint>

namespace platform {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
};

// Left and top inclusive, right and bottom exclusive, as window rectangles are.
struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};

inline Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.IsEmpty()) return Rect{};
  return r;
}

}  // namespace platform
