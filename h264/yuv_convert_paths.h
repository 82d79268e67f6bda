#pragma once

// Internal to the conversion library and its tests: the code paths behind the four public
// routines, and the picture walk that the vector paths share.

#include <cstdint>
#include <cstring>

namespace yuvconvert {

using ConvertFunction = void (*)(const uint8_t* y, int32_t yStride, const uint8_t* u,
                                 const uint8_t* v, int32_t uvStride, uint8_t* dst, int32_t width,
                                 int32_t height, int32_t pitch);

// One code path: the four routines, in the order 32-bit, 24-bit, 5-6-5, 5-5-5.
struct ConvertFunctions {
  const char* name;
  ConvertFunction rgb32;
  ConvertFunction rgb24;
  ConvertFunction rgb565;
  ConvertFunction rgb555;
};

enum class ConvertPath { Scalar, Sse2, Avx2 };

// The path's routines, or nullptr when this build or this processor cannot run it.
const ConvertFunctions* FunctionsFor(ConvertPath path);

// The path the public routines use, chosen once from what the processor offers.
const ConvertFunctions& ActiveFunctions();

// Each path's table regardless of the processor; nullptr when the build has no such path.
const ConvertFunctions& ScalarFunctions();
const ConvertFunctions* Sse2Functions();
const ConvertFunctions* Avx2Functions();

enum class Layout { Rgb32, Rgb24, Rgb565, Rgb555 };

template <Layout L>
inline constexpr int32_t kBytesPerPixel = L == Layout::Rgb32   ? 4
                                          : L == Layout::Rgb24 ? 3
                                                               : 2;

// The walk over a picture for a vector kernel. Kernel::kPixels (a multiple of 8) is the block
// the kernel converts at once, for the two rows of a pair from their shared chroma:
//   template <Layout L> static void Block(const uint8_t* y0, const uint8_t* y1,
//                                         const uint8_t* u, const uint8_t* v,
//                                         uint8_t* d0, uint8_t* d1);
// It reads exactly kPixels luma bytes per row and kPixels / 2 chroma bytes, and writes exactly
// kPixels pixels per row. The bytes equal those of the row-by-row walk: rows of a pair are
// converted side by side, which changes nothing because their pixels never overlap; only the
// 24-bit zero byte after the upper row can fall on the lower row, so it is written first.
// Every instantiation names a kernel with internal linkage, so code built with wider
// instruction sets never stands in for another file's copy.
template <class Kernel, Layout L>
void WalkPicture(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                 int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch) {
  constexpr int32_t K = Kernel::kPixels;
  constexpr int32_t bpp = kBytesPerPixel<L>;
  if (height <= 0 || width < 8) return;
  const int32_t pixels = width / 8 * 8;
  const int32_t whole = pixels / K * K;
  const int32_t rest = pixels - whole;
  for (int32_t row = 0; row < height; row += 2) {
    // An odd height ends with a pair whose lower row is outside the picture; its upper row is
    // converted alone by giving the kernel that row twice.
    const bool single = row + 1 >= height;
    const uint8_t* y0 = y;
    const uint8_t* y1 = single ? y : y + yStride;
    uint8_t* d0 = dst;
    uint8_t* d1 = single ? dst : dst + pitch;
    if constexpr (L == Layout::Rgb24) {
      if (!single) d0[pixels * 3] = 0;
    }
    for (int32_t x = 0; x < whole; x += K) {
      Kernel::template Block<L>(y0 + x, y1 + x, u + x / 2, v + x / 2, d0 + x * bpp, d1 + x * bpp);
    }
    if (rest > 0) {
      // The last part of a row is shorter than a block: it goes through copies so that
      // nothing outside the planes is read and nothing past the row's last step is written.
      alignas(32) uint8_t ys[2][K] = {};
      alignas(32) uint8_t us[K / 2] = {};
      alignas(32) uint8_t vs[K / 2] = {};
      alignas(32) uint8_t out[2][K * bpp];
      std::memcpy(ys[0], y0 + whole, static_cast<size_t>(rest));
      std::memcpy(ys[1], y1 + whole, static_cast<size_t>(rest));
      std::memcpy(us, u + whole / 2, static_cast<size_t>(rest / 2));
      std::memcpy(vs, v + whole / 2, static_cast<size_t>(rest / 2));
      Kernel::template Block<L>(ys[0], ys[1], us, vs, out[0], out[1]);
      std::memcpy(d0 + whole * bpp, out[0], static_cast<size_t>(rest * bpp));
      std::memcpy(d1 + whole * bpp, out[1], static_cast<size_t>(rest * bpp));
    }
    if constexpr (L == Layout::Rgb24) {
      // After the picture's last row the byte would lie past the destination unless the row
      // has unconverted pixels; there it is left alone.
      const bool lastRow = row + 2 >= height;
      if (!lastRow || width % 8 != 0) d1[pixels * 3] = 0;
    }
    y += 2 * static_cast<intptr_t>(yStride);
    dst += 2 * static_cast<intptr_t>(pitch);
    u += uvStride;
    v += uvStride;
  }
}

}  // namespace yuvconvert
