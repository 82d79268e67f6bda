#include "h264/yuv_convert.h"

#include <initializer_list>

#include "h264/yuv_convert_paths.h"

namespace yuvconvert {
namespace {

// (x * c) >> 13 with rounding towards minus infinity, as the packed multiply-high of
// (x << 3) by c gives it.
inline int32_t Scale(int32_t x, int32_t c) {
  return (x * c) >> 13;
}

inline uint8_t Clamp(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

template <Layout L>
inline void Store(int32_t r, int32_t g, int32_t b, uint8_t* p) {
  const uint8_t rr = Clamp(r), gg = Clamp(g), bb = Clamp(b);
  if constexpr (L == Layout::Rgb32) {
    p[0] = bb;
    p[1] = gg;
    p[2] = rr;
    p[3] = 0;
  } else if constexpr (L == Layout::Rgb24) {
    p[0] = bb;
    p[1] = gg;
    p[2] = rr;
  } else {
    uint16_t word;
    if constexpr (L == Layout::Rgb565) {
      word = static_cast<uint16_t>(((rr >> 3) << 11) | (((gg >> 3) << 1) << 5) | (bb >> 3));
    } else {
      word = static_cast<uint16_t>(((rr >> 3) << 10) | ((gg >> 3) << 5) | (bb >> 3));
    }
    p[0] = static_cast<uint8_t>(word);
    p[1] = static_cast<uint8_t>(word >> 8);
  }
}

inline int32_t Luma(uint8_t y) {
  return Scale(y < 16 ? 0 : y - 16, 0x2568);
}

template <Layout L>
void ConvertRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dst, int32_t width,
                bool lastRow) {
  constexpr int32_t bpp = kBytesPerPixel<L>;
  const int32_t pixels = width / 8 * 8;
  for (int32_t i = 0; i < pixels; i += 2) {
    // One U/V pair serves two neighbouring pixels; the green terms are rounded separately.
    const int32_t uu = u[i / 2] - 128;
    const int32_t vv = v[i / 2] - 128;
    const int32_t rc = Scale(vv, 0x3343);
    const int32_t gc = Scale(uu, -3218) + Scale(vv, -6686);
    const int32_t bc = Scale(uu, 0x40CF);
    const int32_t l0 = Luma(y[i]);
    const int32_t l1 = Luma(y[i + 1]);
    Store<L>(l0 + rc, l0 + gc, l0 + bc, dst + i * bpp);
    Store<L>(l1 + rc, l1 + gc, l1 + bc, dst + (i + 1) * bpp);
  }
  // The eight-pixel store of the 24-bit layout leaves a 0 just after the last pixel; after
  // the last row that byte may lie beyond the destination, so there it is written only when
  // the row still has unconverted pixels.
  if constexpr (L == Layout::Rgb24) {
    if (pixels > 0 && (!lastRow || width % 8 != 0)) dst[pixels * 3] = 0;
  }
}

// The portable path, one row after the other; the vector paths give the same bytes.
template <Layout L>
void ConvertPicture(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
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

const ConvertFunctions kScalar = {"scalar", ConvertPicture<Layout::Rgb32>,
                                  ConvertPicture<Layout::Rgb24>, ConvertPicture<Layout::Rgb565>,
                                  ConvertPicture<Layout::Rgb555>};

bool ProcessorRuns(ConvertPath path) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (path) {
    case ConvertPath::Scalar:
      return true;
    case ConvertPath::Sse2:
      return __builtin_cpu_supports("sse2");
    case ConvertPath::Avx2:
      return __builtin_cpu_supports("avx2");
  }
  return false;
#else
  return path == ConvertPath::Scalar;
#endif
}

const ConvertFunctions& ChooseFunctions() {
  for (ConvertPath path : {ConvertPath::Avx2, ConvertPath::Sse2}) {
    if (const ConvertFunctions* functions = FunctionsFor(path)) return *functions;
  }
  return kScalar;
}

}  // namespace

const ConvertFunctions& ScalarFunctions() {
  return kScalar;
}

const ConvertFunctions* FunctionsFor(ConvertPath path) {
  if (!ProcessorRuns(path)) return nullptr;
  switch (path) {
    case ConvertPath::Scalar:
      return &kScalar;
    case ConvertPath::Sse2:
      return Sse2Functions();
    case ConvertPath::Avx2:
      return Avx2Functions();
  }
  return nullptr;
}

const ConvertFunctions& ActiveFunctions() {
  static const ConvertFunctions& active = ChooseFunctions();
  return active;
}

}  // namespace yuvconvert

void Yuv420ToRgb32(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                   int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  yuvconvert::ActiveFunctions().rgb32(y, yStride, u, v, uvStride, dst, width, height, pitch);
}

void Yuv420ToRgb24(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                   int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  yuvconvert::ActiveFunctions().rgb24(y, yStride, u, v, uvStride, dst, width, height, pitch);
}

void Yuv420ToRgb565(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  yuvconvert::ActiveFunctions().rgb565(y, yStride, u, v, uvStride, dst, width, height, pitch);
}

void Yuv420ToRgb555(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  yuvconvert::ActiveFunctions().rgb555(y, yStride, u, v, uvStride, dst, width, height, pitch);
}
