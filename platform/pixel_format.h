#pragma once

#include <cstdint>

namespace platform {

// The pixel layouts a display can have. In memory:
//   Rgb555: little-endian word, bit 15 = 0, bits 14-10 R, 9-5 G, 4-0 B
//   Rgb565: little-endian word, bits 15-11 R, 10-5 G, 4-0 B
//   Rgb24:  bytes B, G, R
//   Rgb32:  bytes B, G, R, 0 (0x00RRGGBB as a little-endian word)
//   Palette8: one palette index per pixel; no player can draw into it.
enum class PixelFormat : int32_t { Rgb555, Rgb565, Rgb24, Rgb32, Palette8 };

constexpr int32_t BytesPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb555:
    case PixelFormat::Rgb565:
      return 2;
    case PixelFormat::Rgb24:
      return 3;
    case PixelFormat::Rgb32:
      return 4;
    case PixelFormat::Palette8:
      return 1;
  }
  return 4;
}

// Read-only pixels that someone else owns: first byte, bytes from row to row, size, layout.
struct PixelView {
  const uint8_t* bits = nullptr;
  int32_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  PixelFormat format = PixelFormat::Rgb32;
};

}  // namespace platform
