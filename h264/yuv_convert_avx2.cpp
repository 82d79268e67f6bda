// The conversion on AVX2: thirty-two pixels of two rows at once. This file alone is built with
// -mavx2, so it includes nothing that other files could share code with (no standard library
// templates), and its kernel has internal linkage.

#include "h264/yuv_convert_paths.h"

#if defined(__AVX2__)

#include <immintrin.h>

namespace yuvconvert {
namespace {

// Byte-shuffle masks that spread sixteen B (or G, or R) bytes of one 128-bit lane over the
// three 16-byte parts of their 48-byte B, G, R run; -128 selects zero.
struct Rgb24Masks {
  alignas(32) int8_t mask[3][3][32];  // [part][channel][byte]
};

constexpr Rgb24Masks MakeRgb24Masks() {
  Rgb24Masks m{};
  for (int part = 0; part < 3; ++part) {
    for (int channel = 0; channel < 3; ++channel) {
      for (int i = 0; i < 32; ++i) {
        const int offset = part * 16 + i % 16;
        m.mask[part][channel][i] = static_cast<int8_t>(offset % 3 == channel ? offset / 3 : -128);
      }
    }
  }
  return m;
}

constexpr Rgb24Masks kRgb24Masks = MakeRgb24Masks();

struct Avx2Kernel {
  static constexpr int32_t kPixels = 32;

  // Luma term of 32 pixels in two vectors of sixteen 16-bit lanes: `lo` holds pixels 0-7 and
  // 16-23, `hi` pixels 8-15 and 24-31, the order in which AVX2 unpacks within 128-bit lanes.
  static void Luma(const uint8_t* y, __m256i& lo, __m256i& hi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i gain = _mm256_set1_epi16(0x2568);
    const __m256i yy = _mm256_subs_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)),
                                        _mm256_set1_epi8(16));
    lo = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(yy, zero), 3), gain);
    hi = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_unpackhi_epi8(yy, zero), 3), gain);
  }

  // (c - 128) << 3 for sixteen chroma bytes, in 16-bit lanes in order.
  static __m256i Chroma(const uint8_t* c) {
    const __m256i wide = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
    return _mm256_sub_epi16(_mm256_slli_epi16(wide, 3), _mm256_set1_epi16(128 << 3));
  }

  // b, g and r hold the 32 pixels in order, sixteen per 128-bit lane.
  template <Layout L>
  static void Store(__m256i b, __m256i g, __m256i r, uint8_t* d) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i* out = reinterpret_cast<__m256i*>(d);
    if constexpr (L == Layout::Rgb32) {
      const __m256i bgLo = _mm256_unpacklo_epi8(b, g);
      const __m256i bgHi = _mm256_unpackhi_epi8(b, g);
      const __m256i r0Lo = _mm256_unpacklo_epi8(r, zero);
      const __m256i r0Hi = _mm256_unpackhi_epi8(r, zero);
      const __m256i p0 = _mm256_unpacklo_epi16(bgLo, r0Lo);  // pixels 0-3, 16-19
      const __m256i p1 = _mm256_unpackhi_epi16(bgLo, r0Lo);  // 4-7, 20-23
      const __m256i p2 = _mm256_unpacklo_epi16(bgHi, r0Hi);  // 8-11, 24-27
      const __m256i p3 = _mm256_unpackhi_epi16(bgHi, r0Hi);  // 12-15, 28-31
      _mm256_storeu_si256(out, _mm256_permute2x128_si256(p0, p1, 0x20));
      _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
      _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
      _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    } else if constexpr (L == Layout::Rgb24) {
      __m256i part[3];
      for (int i = 0; i < 3; ++i) {
        const auto* m = kRgb24Masks.mask[i];
        part[i] = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_shuffle_epi8(b, _mm256_load_si256(reinterpret_cast<const __m256i*>(m[0]))),
                _mm256_shuffle_epi8(g, _mm256_load_si256(reinterpret_cast<const __m256i*>(m[1])))),
            _mm256_shuffle_epi8(r, _mm256_load_si256(reinterpret_cast<const __m256i*>(m[2]))));
      }
      // Lane 0 of the parts is bytes 0-47, lane 1 bytes 48-95.
      _mm256_storeu_si256(out, _mm256_permute2x128_si256(part[0], part[1], 0x20));
      _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(part[2], part[0], 0x30));
      _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(part[1], part[2], 0x31));
    } else {
      // Words built from bytes: B >> 3 in the low byte, R's top five bits in the high byte,
      // and green's top five bits shifted into place across both.
      const __m256i top5 = _mm256_set1_epi8(static_cast<char>(0xF8));
      const __m256i b5 = _mm256_and_si256(_mm256_srli_epi16(b, 3), _mm256_set1_epi8(0x1F));
      const __m256i g5 = _mm256_and_si256(g, top5);
      __m256i r5;
      if constexpr (L == Layout::Rgb565) {
        r5 = _mm256_and_si256(r, top5);
      } else {
        r5 = _mm256_and_si256(_mm256_srli_epi16(r, 1), _mm256_set1_epi8(0x7C));
      }
      constexpr int gShift = L == Layout::Rgb565 ? 3 : 2;
      const __m256i lo = _mm256_or_si256(_mm256_unpacklo_epi8(b5, r5),
                                         _mm256_slli_epi16(_mm256_unpacklo_epi8(g5, zero), gShift));
      const __m256i hi = _mm256_or_si256(_mm256_unpackhi_epi8(b5, r5),
                                         _mm256_slli_epi16(_mm256_unpackhi_epi8(g5, zero), gShift));
      _mm256_storeu_si256(out, _mm256_permute2x128_si256(lo, hi, 0x20));
      _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
  }

  template <Layout L>
  static void Block(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                    uint8_t* d0, uint8_t* d1) {
    const __m256i uu = Chroma(u);
    const __m256i vv = Chroma(v);
    const __m256i bc = _mm256_mulhi_epi16(uu, _mm256_set1_epi16(0x40CF));
    const __m256i rc = _mm256_mulhi_epi16(vv, _mm256_set1_epi16(0x3343));
    // The two green terms are rounded each on its own before they are added.
    const __m256i gc = _mm256_add_epi16(_mm256_mulhi_epi16(uu, _mm256_set1_epi16(-3218)),
                                        _mm256_mulhi_epi16(vv, _mm256_set1_epi16(-6686)));
    // Chroma lanes 0-7 serve pixels 0-15 and lanes 8-15 pixels 16-31, which lines them up
    // with the luma halves after the in-lane unpack.
    const __m256i bcLo = _mm256_unpacklo_epi16(bc, bc), bcHi = _mm256_unpackhi_epi16(bc, bc);
    const __m256i gcLo = _mm256_unpacklo_epi16(gc, gc), gcHi = _mm256_unpackhi_epi16(gc, gc);
    const __m256i rcLo = _mm256_unpacklo_epi16(rc, rc), rcHi = _mm256_unpackhi_epi16(rc, rc);
    const uint8_t* rows[2] = {y0, y1};
    uint8_t* dsts[2] = {d0, d1};
    for (int i = 0; i < 2; ++i) {
      __m256i lo, hi;
      Luma(rows[i], lo, hi);
      // The sums fit in 16 bits; the saturating narrowing is the clamp to 0..255, and it puts
      // the pixels back in order.
      const __m256i b =
          _mm256_packus_epi16(_mm256_adds_epi16(lo, bcLo), _mm256_adds_epi16(hi, bcHi));
      const __m256i g =
          _mm256_packus_epi16(_mm256_adds_epi16(lo, gcLo), _mm256_adds_epi16(hi, gcHi));
      const __m256i r =
          _mm256_packus_epi16(_mm256_adds_epi16(lo, rcLo), _mm256_adds_epi16(hi, rcHi));
      Store<L>(b, g, r, dsts[i]);
    }
  }
};

const ConvertFunctions kAvx2 = {
    "avx2", WalkPicture<Avx2Kernel, Layout::Rgb32>, WalkPicture<Avx2Kernel, Layout::Rgb24>,
    WalkPicture<Avx2Kernel, Layout::Rgb565>, WalkPicture<Avx2Kernel, Layout::Rgb555>};

}  // namespace

const ConvertFunctions* Avx2Functions() {
  return &kAvx2;
}

}  // namespace yuvconvert

#else

namespace yuvconvert {
const ConvertFunctions* Avx2Functions() {
  return nullptr;
}
}  // namespace yuvconvert

#endif
