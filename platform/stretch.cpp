#include "platform/stretch.h"

#include <cstring>
#include <vector>

namespace platform {
namespace {

inline uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }
inline uint32_t Expand6(uint32_t v) { return (v << 2) | (v >> 4); }

inline uint32_t ToRgb32(const uint8_t* p, PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb555: {
      uint32_t w = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
      return (Expand5((w >> 10) & 31) << 16) | (Expand5((w >> 5) & 31) << 8) | Expand5(w & 31);
    }
    case PixelFormat::Rgb565: {
      uint32_t w = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
      return (Expand5((w >> 11) & 31) << 16) | (Expand6((w >> 5) & 63) << 8) | Expand5(w & 31);
    }
    case PixelFormat::Rgb24:
      return (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
    case PixelFormat::Rgb32: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v & 0x00FFFFFFu;
    }
    case PixelFormat::Palette8:
      return static_cast<uint32_t>(p[0]) * 0x010101u;
  }
  return 0;
}

}  // namespace

void StretchToRgb32(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                    int32_t destPitch, int32_t destWidth, int32_t destHeight,
                    const Rect& destRect, const Rect& clipRect) {
  if (source.bits == nullptr || destBits == nullptr) return;
  Rect src = Intersect(sourceRect, Rect{0, 0, source.width, source.height});
  if (src != sourceRect || src.IsEmpty() || destRect.IsEmpty()) return;
  Rect clip = Intersect(Intersect(clipRect, destRect), Rect{0, 0, destWidth, destHeight});
  if (clip.IsEmpty()) return;

  const int64_t srcW = src.Width(), srcH = src.Height();
  const int64_t dstW = destRect.Width(), dstH = destRect.Height();
  const int32_t bpp = BytesPerPixel(source.format);

  std::vector<int32_t> columnOffsets(static_cast<size_t>(clip.Width()));
  for (int32_t x = clip.left; x < clip.right; ++x) {
    int64_t d = x - destRect.left;
    int64_t sx = src.left + ((2 * d + 1) * srcW) / (2 * dstW);
    columnOffsets[static_cast<size_t>(x - clip.left)] = static_cast<int32_t>(sx * bpp);
  }

  for (int32_t y = clip.top; y < clip.bottom; ++y) {
    int64_t d = y - destRect.top;
    int64_t sy = src.top + ((2 * d + 1) * srcH) / (2 * dstH);
    const uint8_t* srcRow = source.bits + sy * source.pitch;
    uint8_t* dstRow = destBits + static_cast<int64_t>(y) * destPitch + clip.left * 4;
    if (source.format == PixelFormat::Rgb32) {
      for (size_t i = 0; i < columnOffsets.size(); ++i) {
        uint32_t v;
        std::memcpy(&v, srcRow + columnOffsets[i], 4);
        v &= 0x00FFFFFFu;
        std::memcpy(dstRow + i * 4, &v, 4);
      }
    } else {
      for (size_t i = 0; i < columnOffsets.size(); ++i) {
        uint32_t v = ToRgb32(srcRow + columnOffsets[i], source.format);
        std::memcpy(dstRow + i * 4, &v, 4);
      }
    }
  }
}

}  // namespace platform
