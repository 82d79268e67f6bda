#include "platform/stretch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define QUENDREL_STRETCH_X86 1
#endif

namespace platform {
namespace {

inline uint32_t Expand5(uint32_t v) {
  return (v << 3) | (v >> 2);
}
inline uint32_t Expand6(uint32_t v) {
  return (v << 2) | (v >> 4);
}

inline uint32_t Load16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

template <PixelFormat F>
inline uint32_t Load(const uint8_t* p) {
  if constexpr (F == PixelFormat::Rgb555) {
    uint32_t w = Load16(p);
    return (Expand5((w >> 10) & 31) << 16) | (Expand5((w >> 5) & 31) << 8) | Expand5(w & 31);
  } else if constexpr (F == PixelFormat::Rgb565) {
    uint32_t w = Load16(p);
    return (Expand5((w >> 11) & 31) << 16) | (Expand6((w >> 5) & 63) << 8) | Expand5(w & 31);
  } else if constexpr (F == PixelFormat::Rgb24) {
    return (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
  } else if constexpr (F == PixelFormat::Rgb32) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v & 0x00FFFFFFu;
  } else {
    return static_cast<uint32_t>(p[0]) * 0x010101u;
  }
}

template <PixelFormat F>
inline void Store(uint8_t* p, uint32_t rgb, uint32_t fourthByte) {
  const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  if constexpr (F == PixelFormat::Rgb32) {
    uint32_t v = rgb | fourthByte;
    std::memcpy(p, &v, 4);
  } else if constexpr (F == PixelFormat::Rgb24) {
    p[0] = static_cast<uint8_t>(b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
  } else {
    uint32_t w;
    if constexpr (F == PixelFormat::Rgb565) {
      w = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    } else {
      w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    }
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
  }
}

constexpr size_t BLOCK = 8;  // destination pixels per vector step

// Which source pixel every written destination pixel takes, worked out once per call.
struct Plan {
  Rect src;
  Rect clip;
  Rect dest;
  std::vector<intptr_t> columnOffsets;  // byte offset in a source row, per clip column
  bool contiguous = false;              // one destination column per source column
  // 32-bit to 32-bit with AVX2: per block of eight clip columns, the first of the source
  // pixels loaded together, eight or (shrinking) sixteen of them, or -1 when they span more
  // or the load would pass the row's end; and which of them each column takes.
  std::vector<int32_t> blockFirst;
  std::vector<int32_t> blockOrder;
  std::vector<uint8_t> blockWide;  // 1 when the block loads sixteen pixels
  size_t blockStart = 0;  // clip columns before the first block, so that stores are aligned
};

bool HaveAvx2() {
#if defined(QUENDREL_STRETCH_X86)
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
#else
  return false;
#endif
}

void PlanBlocks(const PixelView& source, const uint8_t* destBits, int32_t destPitch, Plan* plan) {
  const size_t count = plan->columnOffsets.size();
  // Every row starts at the same place in a 32-byte line when the pitch is a multiple of
  // 32; a few single pixels first then let every block store whole into one line pair.
  const uintptr_t firstByte =
      reinterpret_cast<uintptr_t>(destBits + static_cast<int64_t>(plan->clip.top) * destPitch +
                                  static_cast<int64_t>(plan->clip.left) * 4);
  size_t start = 0;
  if (destPitch % 32 == 0 && firstByte % 4 == 0) start = ((32 - firstByte % 32) % 32) / 4;
  plan->blockStart = std::min(start, count);
  const size_t blocks = (count - plan->blockStart) / BLOCK;
  plan->blockFirst.assign(blocks, -1);
  plan->blockOrder.assign(blocks * BLOCK, 0);
  plan->blockWide.assign(blocks, 0);
  for (size_t b = 0; b < blocks; ++b) {
    const intptr_t* offsets = plan->columnOffsets.data() + plan->blockStart + b * BLOCK;
    const intptr_t first = offsets[0] / 4, last = offsets[BLOCK - 1] / 4;
    const intptr_t loaded = last - first < static_cast<intptr_t>(BLOCK) ? BLOCK : 2 * BLOCK;
    if (last - first >= 2 * static_cast<intptr_t>(BLOCK) || first + loaded > source.width) {
      continue;
    }
    plan->blockFirst[b] = static_cast<int32_t>(first);
    plan->blockWide[b] = loaded > static_cast<intptr_t>(BLOCK);
    for (size_t i = 0; i < BLOCK; ++i) {
      plan->blockOrder[b * BLOCK + i] = static_cast<int32_t>(offsets[i] / 4 - first);
    }
  }
}

bool MakePlan(const PixelView& source, const Rect& sourceRect, const uint8_t* destBits,
              int32_t destWidth, int32_t destHeight, const Rect& destRect, const Rect& clipRect,
              Plan* plan) {
  if (source.bits == nullptr || destBits == nullptr) return false;
  if (source.width <= 0 || source.height <= 0) return false;
  Rect src = Intersect(sourceRect, Rect{0, 0, source.width, source.height});
  if (src != sourceRect || src.IsEmpty() || destRect.IsEmpty()) return false;
  Rect clip = Intersect(Intersect(clipRect, destRect), Rect{0, 0, destWidth, destHeight});
  if (clip.IsEmpty()) return false;

  plan->src = src;
  plan->clip = clip;
  plan->dest = destRect;
  const int64_t srcW = src.Width(), dstW = destRect.Width();
  const int32_t bpp = BytesPerPixel(source.format);
  plan->columnOffsets.resize(static_cast<size_t>(clip.Width()));
  for (int32_t x = clip.left; x < clip.right; ++x) {
    int64_t d = static_cast<int64_t>(x) - destRect.left;
    int64_t sx = src.left + ((2 * d + 1) * srcW) / (2 * dstW);
    plan->columnOffsets[static_cast<size_t>(x - clip.left)] = static_cast<intptr_t>(sx * bpp);
  }
  plan->contiguous = srcW == dstW;
  return true;
}

inline void CopyRow32(const uint8_t* s, uint8_t* d, size_t count, uint32_t fourthByte) {
  size_t i = 0;
#if defined(QUENDREL_STRETCH_X86)
  const __m128i keep = _mm_set1_epi32(0x00FFFFFF);
  const __m128i fourth = _mm_set1_epi32(static_cast<int32_t>(fourthByte));
  for (; i + 4 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * 4),
                     _mm_or_si128(_mm_and_si128(v, keep), fourth));
  }
#endif
  for (; i < count; ++i)
    Store<PixelFormat::Rgb32>(d + i * 4, Load<PixelFormat::Rgb32>(s + i * 4), fourthByte);
}

#if defined(QUENDREL_STRETCH_X86)
__attribute__((target("avx2"))) void PermuteRow32(const Plan& plan, const uint8_t* srcRow,
                                                  uint8_t* dstRow, uint32_t fourthByte) {
  const __m256i keep = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(fourthByte));
  const size_t count = plan.columnOffsets.size();
  const size_t blocks = plan.blockFirst.size();
  const size_t start = plan.blockStart;
  for (size_t i = 0; i < start; ++i) {
    Store<PixelFormat::Rgb32>(dstRow + i * 4,
                              Load<PixelFormat::Rgb32>(srcRow + plan.columnOffsets[i]), fourthByte);
  }
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t* d = dstRow + (start + b * BLOCK) * 4;
    const int32_t first = plan.blockFirst[b];
    if (first >= 0) {
      const __m256i* from = reinterpret_cast<const __m256i*>(srcRow + first * 4);
      const __m256i order =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plan.blockOrder.data() + b * BLOCK));
      // The permute looks at the low three bits of each index only, so the second eight
      // pixels are picked with the same order and chosen where the index is 8 or more.
      __m256i picked = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(from), order);
      if (plan.blockWide[b]) {
        const __m256i high = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(from + 1), order);
        picked = _mm256_blendv_epi8(picked, high, _mm256_cmpgt_epi32(order, _mm256_set1_epi32(7)));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                          _mm256_or_si256(_mm256_and_si256(picked, keep), fourth));
    } else {
      const intptr_t* offsets = plan.columnOffsets.data() + start + b * BLOCK;
      for (size_t i = 0; i < BLOCK; ++i) {
        Store<PixelFormat::Rgb32>(d + i * 4, Load<PixelFormat::Rgb32>(srcRow + offsets[i]),
                                  fourthByte);
      }
    }
  }
  for (size_t i = start + blocks * BLOCK; i < count; ++i) {
    Store<PixelFormat::Rgb32>(dstRow + i * 4,
                              Load<PixelFormat::Rgb32>(srcRow + plan.columnOffsets[i]), fourthByte);
  }
}
#endif

inline int64_t SourceRow(const Plan& plan, int32_t y) {
  const int64_t d = static_cast<int64_t>(y) - plan.dest.top;
  return plan.src.top + ((2 * d + 1) * plan.src.Height()) / (2 * plan.dest.Height());
}

template <PixelFormat SF, PixelFormat DF>
void StretchRows(const Plan& plan, const PixelView& source, uint8_t* destBits, int32_t destPitch,
                 uint32_t fourthByte) {
  constexpr int32_t destBpp = BytesPerPixel(DF);
  constexpr int32_t srcBpp = BytesPerPixel(SF);
  const size_t count = plan.columnOffsets.size();
  const intptr_t* offsets = plan.columnOffsets.data();
  const size_t rowBytes = count * destBpp;

  int64_t previousSy = -1;
  const uint8_t* previousRow = nullptr;
  for (int32_t y = plan.clip.top; y < plan.clip.bottom; ++y) {
    uint8_t* dstRow = destBits + static_cast<int64_t>(y) * destPitch +
                      static_cast<int64_t>(plan.clip.left) * destBpp;
    const int64_t sy = SourceRow(plan, y);
    // An enlarged picture repeats source rows: the row already written is copied whole.
    if (sy == previousSy) {
      std::memcpy(dstRow, previousRow, rowBytes);
      continue;
    }
    const uint8_t* srcRow = source.bits + sy * static_cast<int64_t>(source.pitch);
    if constexpr (SF == PixelFormat::Rgb32 && DF == PixelFormat::Rgb32) {
      if (plan.contiguous) {
        CopyRow32(srcRow + offsets[0], dstRow, count, fourthByte);
#if defined(QUENDREL_STRETCH_X86)
      } else if (!plan.blockFirst.empty()) {
        PermuteRow32(plan, srcRow, dstRow, fourthByte);
#endif
      } else {
        for (size_t i = 0; i < count; ++i) {
          Store<DF>(dstRow + i * 4, Load<SF>(srcRow + offsets[i]), fourthByte);
        }
      }
    } else if (plan.contiguous) {
      const uint8_t* s = srcRow + offsets[0];
      for (size_t i = 0; i < count; ++i) {
        Store<DF>(dstRow + i * destBpp, Load<SF>(s + i * srcBpp), fourthByte);
      }
    } else {
      for (size_t i = 0; i < count; ++i) {
        Store<DF>(dstRow + i * destBpp, Load<SF>(srcRow + offsets[i]), fourthByte);
      }
    }
    previousSy = sy;
    previousRow = dstRow;
  }
}

template <PixelFormat DF>
void StretchFrom(const Plan& plan, const PixelView& source, uint8_t* destBits, int32_t destPitch,
                 uint32_t fourthByte) {
  switch (source.format) {
    case PixelFormat::Rgb555:
      return StretchRows<PixelFormat::Rgb555, DF>(plan, source, destBits, destPitch, fourthByte);
    case PixelFormat::Rgb565:
      return StretchRows<PixelFormat::Rgb565, DF>(plan, source, destBits, destPitch, fourthByte);
    case PixelFormat::Rgb24:
      return StretchRows<PixelFormat::Rgb24, DF>(plan, source, destBits, destPitch, fourthByte);
    case PixelFormat::Rgb32:
      return StretchRows<PixelFormat::Rgb32, DF>(plan, source, destBits, destPitch, fourthByte);
    case PixelFormat::Palette8:
      return StretchRows<PixelFormat::Palette8, DF>(plan, source, destBits, destPitch, fourthByte);
  }
}

void Stretch(const PixelView& source, const Rect& sourceRect, uint8_t* destBits, int32_t destPitch,
             int32_t destWidth, int32_t destHeight, PixelFormat destFormat, const Rect& destRect,
             const Rect& clipRect, uint32_t fourthByte) {
  Plan plan;
  if (!MakePlan(source, sourceRect, destBits, destWidth, destHeight, destRect, clipRect, &plan)) {
    return;
  }
  if (source.format == PixelFormat::Rgb32 && destFormat == PixelFormat::Rgb32 && !plan.contiguous &&
      HaveAvx2()) {
    PlanBlocks(source, destBits, destPitch, &plan);
  }
  switch (destFormat) {
    case PixelFormat::Rgb555:
      return StretchFrom<PixelFormat::Rgb555>(plan, source, destBits, destPitch, 0);
    case PixelFormat::Rgb565:
      return StretchFrom<PixelFormat::Rgb565>(plan, source, destBits, destPitch, 0);
    case PixelFormat::Rgb24:
      return StretchFrom<PixelFormat::Rgb24>(plan, source, destBits, destPitch, 0);
    case PixelFormat::Rgb32:
      return StretchFrom<PixelFormat::Rgb32>(plan, source, destBits, destPitch, fourthByte);
    case PixelFormat::Palette8:
      return;
  }
}

}  // namespace

void StretchToRgb32(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                    int32_t destPitch, int32_t destWidth, int32_t destHeight, const Rect& destRect,
                    const Rect& clipRect) {
  Stretch(source, sourceRect, destBits, destPitch, destWidth, destHeight, PixelFormat::Rgb32,
          destRect, clipRect, 0);
}

void StretchToOpaqueRgb32(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                          int32_t destPitch, int32_t destWidth, int32_t destHeight,
                          const Rect& destRect, const Rect& clipRect) {
  Stretch(source, sourceRect, destBits, destPitch, destWidth, destHeight, PixelFormat::Rgb32,
          destRect, clipRect, 0xFF000000u);
}

void StretchPixels(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                   int32_t destPitch, int32_t destWidth, int32_t destHeight, PixelFormat destFormat,
                   const Rect& destRect, const Rect& clipRect) {
  Stretch(source, sourceRect, destBits, destPitch, destWidth, destHeight, destFormat, destRect,
          clipRect, 0);
}

uint32_t PackPixel(uint32_t rgb, PixelFormat format) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  switch (format) {
    case PixelFormat::Rgb555:
      Store<PixelFormat::Rgb555>(bytes, rgb & 0xFFFFFFu, 0);
      break;
    case PixelFormat::Rgb565:
      Store<PixelFormat::Rgb565>(bytes, rgb & 0xFFFFFFu, 0);
      break;
    case PixelFormat::Rgb24:
      Store<PixelFormat::Rgb24>(bytes, rgb & 0xFFFFFFu, 0);
      break;
    case PixelFormat::Rgb32:
      Store<PixelFormat::Rgb32>(bytes, rgb & 0xFFFFFFu, 0);
      break;
    case PixelFormat::Palette8:
      break;
  }
  uint32_t packed;
  std::memcpy(&packed, bytes, 4);
  return packed;
}

uint32_t UnpackPixel(const uint8_t* p, PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb555:
      return Load<PixelFormat::Rgb555>(p);
    case PixelFormat::Rgb565:
      return Load<PixelFormat::Rgb565>(p);
    case PixelFormat::Rgb24:
      return Load<PixelFormat::Rgb24>(p);
    case PixelFormat::Rgb32:
      return Load<PixelFormat::Rgb32>(p);
    case PixelFormat::Palette8:
      return Load<PixelFormat::Palette8>(p);
  }
  return 0;
}

}  // namespace platform
