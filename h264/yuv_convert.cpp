#include "h264/yuv_convert.h"

#include <algorithm>
#include <cstring>

namespace {

// (x * c) >> 13 with rounding towards minus infinity, as the packed multiply-high of
// (x << 3) by c gives it.
inline int32_t Scale(int32_t x, int32_t c) { return (x * c) >> 13; }

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

struct Rgb {
  uint8_t r, g, b;
};

inline Rgb Convert(uint8_t y, uint8_t u, uint8_t v) {
  const int32_t l = Scale(std::max<int32_t>(y - 16, 0), 0x2568);
  const int32_t uu = u - 128;
  const int32_t vv = v - 128;
  return Rgb{Clamp(l + Scale(vv, 0x3343)),
             Clamp(l + Scale(uu, -3218) + Scale(vv, -6686)),
             Clamp(l + Scale(uu, 0x40CF))};
}

enum class Layout { Rgb32, Rgb24, Rgb565, Rgb555 };

template <Layout L>
void ConvertRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst,
                int32_t width, bool lastRow) {
  const int32_t steps = width / 8;
  for (int32_t i = 0; i < steps * 8; ++i) {
    const Rgb c = Convert(y[i], u[i / 2], v[i / 2]);
    if constexpr (L == Layout::Rgb32) {
      uint8_t* p = dst + i * 4;
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = 0;
    } else if constexpr (L == Layout::Rgb24) {
      uint8_t* p = dst + i * 3;
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    } else {
      uint16_t word;
      if constexpr (L == Layout::Rgb565) {
        word = static_cast<uint16_t>(((c.r >> 3) << 11) | (((c.g >> 3) << 1) << 5) | (c.b >> 3));
      } else {
        word = static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
      }
      dst[i * 2] = static_cast<uint8_t>(word);
      dst[i * 2 + 1] = static_cast<uint8_t>(word >> 8);
    }
  }
  // The eight-pixel store of the 24-bit layout leaves a 0 just after the last pixel; after
  // the last row that byte may lie beyond the destination, so there it is written only when
  // the row still has unconverted pixels.
  if constexpr (L == Layout::Rgb24) {
    if (steps > 0 && (!lastRow || width % 8 != 0)) dst[steps * 24] = 0;
  }
}

template <Layout L>
void ConvertPicture(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height,
                    int32_t pitch) {
  if (height <= 0 || width < 8) return;
  for (int32_t row = 0; row < height; row += 2) {
    // An odd height ends with the upper row of a pair; the lower one is outside the picture.
    ConvertRow<L>(y, u, v, dst, width, row + 1 >= height);
    if (row + 1 >= height) break;
    ConvertRow<L>(y + yStride, u, v, dst + pitch, width, row + 2 >= height);
    y += 2 * static_cast<intptr_t>(yStride);
    dst += 2 * static_cast<intptr_t>(pitch);
    u += uvStride;
    v += uvStride;
  }
}

}  // namespace

void Yuv420ToRgb32(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                   int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  ConvertPicture<Layout::Rgb32>(y, yStride, u, v, uvStride, dst, width, height, pitch);
}

void Yuv420ToRgb24(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                   int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  ConvertPicture<Layout::Rgb24>(y, yStride, u, v, uvStride, dst, width, height, pitch);
}

void Yuv420ToRgb565(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  ConvertPicture<Layout::Rgb565>(y, yStride, u, v, uvStride, dst, width, height, pitch);
}

void Yuv420ToRgb555(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  ConvertPicture<Layout::Rgb555>(y, yStride, u, v, uvStride, dst, width, height, pitch);
}
