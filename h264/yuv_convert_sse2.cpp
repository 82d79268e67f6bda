// The conversion on SSE2, which every x86-64 processor has: sixteen pixels of two rows at once.

#include "h264/yuv_convert_paths.h"

#if defined(__SSE2__)

#include <emmintrin.h>

namespace yuvconvert {
namespace {

struct Sse2Kernel {
  static constexpr int32_t kPixels = 16;

  // Luma term of sixteen pixels in two halves of eight 16-bit lanes. The saturating subtract
  // takes luma below 16 as 16; the multiply-high of (Y' << 3) is (Y' * 0x2568) >> 13.
  static void Luma(const uint8_t* y, __m128i& lo, __m128i& hi) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i gain = _mm_set1_epi16(0x2568);
    const __m128i yy =
        _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), _mm_set1_epi8(16));
    lo = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(yy, zero), 3), gain);
    hi = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(yy, zero), 3), gain);
  }

  // (c - 128) << 3 for eight chroma bytes, in 16-bit lanes.
  static __m128i Chroma(const uint8_t* c) {
    const __m128i wide = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c)),
                                           _mm_setzero_si128());
    return _mm_sub_epi16(_mm_slli_epi16(wide, 3), _mm_set1_epi16(128 << 3));
  }

  template <Layout L>
  static void Store(__m128i b, __m128i g, __m128i r, uint8_t* d) {
    const __m128i zero = _mm_setzero_si128();
    __m128i* out = reinterpret_cast<__m128i*>(d);
    if constexpr (L == Layout::Rgb32 || L == Layout::Rgb24) {
      const __m128i bgLo = _mm_unpacklo_epi8(b, g);
      const __m128i bgHi = _mm_unpackhi_epi8(b, g);
      const __m128i r0Lo = _mm_unpacklo_epi8(r, zero);
      const __m128i r0Hi = _mm_unpackhi_epi8(r, zero);
      __m128i p[4] = {_mm_unpacklo_epi16(bgLo, r0Lo), _mm_unpackhi_epi16(bgLo, r0Lo),
                      _mm_unpacklo_epi16(bgHi, r0Hi), _mm_unpackhi_epi16(bgHi, r0Hi)};
      if constexpr (L == Layout::Rgb32) {
        for (int i = 0; i < 4; ++i) _mm_storeu_si128(out + i, p[i]);
      } else {
        // Squeeze each group of four B, G, R, 0 pixels into its low twelve bytes, then join
        // the four groups into 48 bytes.
        const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
        const __m128i high3 = _mm_set_epi32(0x0000FFFF, static_cast<int32_t>(0xFF000000),
                                            0x0000FFFF, static_cast<int32_t>(0xFF000000));
        const __m128i first6 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
        const __m128i next6 = _mm_set_epi32(0, -1, static_cast<int32_t>(0xFFFF0000), 0);
        for (int i = 0; i < 4; ++i) {
          const __m128i q = _mm_or_si128(_mm_and_si128(p[i], low3),
                                         _mm_and_si128(_mm_srli_epi64(p[i], 8), high3));
          p[i] = _mm_or_si128(_mm_and_si128(q, first6), _mm_and_si128(_mm_srli_si128(q, 2), next6));
        }
        _mm_storeu_si128(out, _mm_or_si128(p[0], _mm_slli_si128(p[1], 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(p[1], 4), _mm_slli_si128(p[2], 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(p[2], 8), _mm_slli_si128(p[3], 4)));
      }
    } else {
      // Words built from bytes: B >> 3 in the low byte, R's top five bits in the high byte,
      // and green's top five bits shifted into place across both.
      const __m128i top5 = _mm_set1_epi8(static_cast<char>(0xF8));
      const __m128i b5 = _mm_and_si128(_mm_srli_epi16(b, 3), _mm_set1_epi8(0x1F));
      const __m128i g5 = _mm_and_si128(g, top5);
      __m128i r5;
      if constexpr (L == Layout::Rgb565) {
        r5 = _mm_and_si128(r, top5);
      } else {
        r5 = _mm_and_si128(_mm_srli_epi16(r, 1), _mm_set1_epi8(0x7C));
      }
      constexpr int gShift = L == Layout::Rgb565 ? 3 : 2;
      _mm_storeu_si128(out, _mm_or_si128(_mm_unpacklo_epi8(b5, r5),
                                         _mm_slli_epi16(_mm_unpacklo_epi8(g5, zero), gShift)));
      _mm_storeu_si128(out + 1, _mm_or_si128(_mm_unpackhi_epi8(b5, r5),
                                             _mm_slli_epi16(_mm_unpackhi_epi8(g5, zero), gShift)));
    }
  }

  template <Layout L>
  static void Block(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                    uint8_t* d0, uint8_t* d1) {
    const __m128i uu = Chroma(u);
    const __m128i vv = Chroma(v);
    const __m128i bc = _mm_mulhi_epi16(uu, _mm_set1_epi16(0x40CF));
    const __m128i rc = _mm_mulhi_epi16(vv, _mm_set1_epi16(0x3343));
    // The two green terms are rounded each on its own before they are added.
    const __m128i gc = _mm_add_epi16(_mm_mulhi_epi16(uu, _mm_set1_epi16(-3218)),
                                     _mm_mulhi_epi16(vv, _mm_set1_epi16(-6686)));
    // Each chroma lane serves two neighbouring pixels.
    const __m128i bcLo = _mm_unpacklo_epi16(bc, bc), bcHi = _mm_unpackhi_epi16(bc, bc);
    const __m128i gcLo = _mm_unpacklo_epi16(gc, gc), gcHi = _mm_unpackhi_epi16(gc, gc);
    const __m128i rcLo = _mm_unpacklo_epi16(rc, rc), rcHi = _mm_unpackhi_epi16(rc, rc);
    const uint8_t* rows[2] = {y0, y1};
    uint8_t* dsts[2] = {d0, d1};
    for (int i = 0; i < 2; ++i) {
      __m128i lo, hi;
      Luma(rows[i], lo, hi);
      // The sums fit in 16 bits; the saturating narrowing is the clamp to 0..255.
      const __m128i b = _mm_packus_epi16(_mm_adds_epi16(lo, bcLo), _mm_adds_epi16(hi, bcHi));
      const __m128i g = _mm_packus_epi16(_mm_adds_epi16(lo, gcLo), _mm_adds_epi16(hi, gcHi));
      const __m128i r = _mm_packus_epi16(_mm_adds_epi16(lo, rcLo), _mm_adds_epi16(hi, rcHi));
      Store<L>(b, g, r, dsts[i]);
    }
  }
};

const ConvertFunctions kSse2 = {
    "sse2", WalkPicture<Sse2Kernel, Layout::Rgb32>, WalkPicture<Sse2Kernel, Layout::Rgb24>,
    WalkPicture<Sse2Kernel, Layout::Rgb565>, WalkPicture<Sse2Kernel, Layout::Rgb555>};

}  // namespace

const ConvertFunctions* Sse2Functions() {
  return &kSse2;
}

}  // namespace yuvconvert

#else

namespace yuvconvert {
const ConvertFunctions* Sse2Functions() {
  return nullptr;
}
}  // namespace yuvconvert

#endif
