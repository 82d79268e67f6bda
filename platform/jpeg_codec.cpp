#include "platform/jpeg_codec.h"

#include <turbojpeg.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace platform {
namespace {

struct TjHandleFree {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandlePtr = std::unique_ptr<void, TjHandleFree>;

struct TjBufferFree {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjBufferPtr = std::unique_ptr<unsigned char, TjBufferFree>;

struct FileClose {
  void operator()(FILE* file) const { std::fclose(file); }
};

// The reduction that leaves the fewest pixels while still covering the target in both
// directions, so the stretch that follows never enlarges a picture it could have had
// sharper. Starting from the full size means an enlarging factor is never chosen. Only
// 1/2, 1/4 and 1/8 are candidates: TurboJPEG decodes those faster than the full size, but
// 7/8, 3/4, 5/8 and 3/8 slower (3/4 of 1920 x 1080 takes about 1.5 times the full decode).
tjscalingfactor ChooseScale(int width, int height, int32_t targetWidth, int32_t targetHeight) {
  tjscalingfactor best{1, 1};
  if (targetWidth <= 0 || targetHeight <= 0) return best;
  int count = 0;
  const tjscalingfactor* factors = tjGetScalingFactors(&count);
  if (factors == nullptr) return best;
  int64_t bestPixels = static_cast<int64_t>(width) * height;
  for (int i = 0; i < count; ++i) {
    const tjscalingfactor f = factors[i];
    if (f.num != 1 || (f.denom != 2 && f.denom != 4 && f.denom != 8)) continue;
    const int scaledWidth = TJSCALED(width, f);
    const int scaledHeight = TJSCALED(height, f);
    if (scaledWidth < targetWidth || scaledHeight < targetHeight) continue;
    const int64_t pixels = static_cast<int64_t>(scaledWidth) * scaledHeight;
    if (pixels < bestPixels) {
      bestPixels = pixels;
      best = f;
    }
  }
  return best;
}

inline uint8_t Expand5(uint32_t v) {
  return static_cast<uint8_t>((v << 3) | (v >> 2));
}
inline uint8_t Expand6(uint32_t v) {
  return static_cast<uint8_t>((v << 2) | (v >> 4));
}

// Widens 16-bit rows to B, G, R, 0 by repeating each channel's top bits, as the displays do.
bool WidenTo32(const PixelView& pixels, std::vector<uint8_t>* out) {
  try {
    out->resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* dst = out->data();
  for (int32_t y = 0; y < pixels.height; ++y) {
    const uint8_t* src = pixels.bits + static_cast<int64_t>(y) * pixels.pitch;
    for (int32_t x = 0; x < pixels.width; ++x, src += 2, dst += 4) {
      const uint32_t w = static_cast<uint32_t>(src[0]) | (static_cast<uint32_t>(src[1]) << 8);
      if (pixels.format == PixelFormat::Rgb555) {
        dst[0] = Expand5(w & 31);
        dst[1] = Expand5((w >> 5) & 31);
        dst[2] = Expand5((w >> 10) & 31);
      } else {
        dst[0] = Expand5(w & 31);
        dst[1] = Expand6((w >> 5) & 63);
        dst[2] = Expand5((w >> 11) & 31);
      }
      dst[3] = 0;
    }
  }
  return true;
}

// Zeroes every fourth byte (bytes is a multiple of 4); four pixels at a time where the
// processor allows, since this pass over a whole picture is a visible part of a draw.
void ClearFourthBytes(uint8_t* bits, size_t bytes) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i keep = _mm_set1_epi32(0x00FFFFFF);
  for (; i + 16 <= bytes; i += 16) {
    __m128i* p = reinterpret_cast<__m128i*>(bits + i);
    _mm_storeu_si128(p, _mm_and_si128(_mm_loadu_si128(p), keep));
  }
#endif
  for (; i + 8 <= bytes; i += 8) {
    uint64_t pair;
    std::memcpy(&pair, bits + i, 8);
    pair &= 0x00FFFFFF00FFFFFFull;
    std::memcpy(bits + i, &pair, 8);
  }
  if (i < bytes) bits[i + 3] = 0;
}

}  // namespace

DecodedImage DecodeJpeg(const uint8_t* data, size_t length, int32_t targetWidth,
                        int32_t targetHeight) {
  DecodedImage image;
  if (data == nullptr || length == 0 || length > ULONG_MAX) return image;

  TjHandlePtr handle(tjInitDecompress());
  if (!handle) return image;

  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle.get(), data, static_cast<unsigned long>(length), &width, &height,
                          &subsampling, &colorspace) != 0) {
    return image;
  }
  // The declared size is checked before anything of that size is allocated.
  if (width <= 0 || height <= 0 ||
      static_cast<int64_t>(width) * static_cast<int64_t>(height) > MAX_JPEG_PIXELS) {
    return image;
  }

  const tjscalingfactor scale = ChooseScale(width, height, targetWidth, targetHeight);
  const int scaledWidth = TJSCALED(width, scale);
  const int scaledHeight = TJSCALED(height, scale);
  const int pitch = scaledWidth * 4;
  try {
    image.pixels.resize(static_cast<size_t>(pitch) * static_cast<size_t>(scaledHeight));
  } catch (const std::bad_alloc&) {
    return DecodedImage{};
  }

  // A warning fails the call too: a picture cut short or with damaged data would come out
  // partly grey or garbled, and is skipped rather than shown as if it were whole, so the
  // decode stops at the first one. The scan limit keeps a hostile progressive file from
  // taking minutes.
  const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
  if (tjDecompress2(handle.get(), data, static_cast<unsigned long>(length), image.pixels.data(),
                    scaledWidth, pitch, scaledHeight, TJPF_BGRX, flags) != 0) {
    return DecodedImage{};
  }
  // TurboJPEG leaves the fourth byte of TJPF_BGRX undefined; the layout promises 0.
  ClearFourthBytes(image.pixels.data(), image.pixels.size());

  image.width = width;
  image.height = height;
  image.pixelWidth = scaledWidth;
  image.pixelHeight = scaledHeight;
  image.pitch = pitch;
  return image;
}

bool WriteJpegFile(const PixelView& pixels, int32_t quality, const std::string& path) {
  if (pixels.bits == nullptr || pixels.width <= 0 || pixels.height <= 0) return false;
  int pixelFormat = 0;
  switch (pixels.format) {
    case PixelFormat::Rgb555:
    case PixelFormat::Rgb565:
    case PixelFormat::Rgb32:
      pixelFormat = TJPF_BGRX;
      break;
    case PixelFormat::Rgb24:
      pixelFormat = TJPF_BGR;
      break;
    case PixelFormat::Palette8:
      return false;
  }
  if (static_cast<int64_t>(pixels.pitch) <
      static_cast<int64_t>(pixels.width) * BytesPerPixel(pixels.format)) {
    return false;
  }

  const uint8_t* source = pixels.bits;
  int pitch = pixels.pitch;
  std::vector<uint8_t> widened;
  if (pixels.format == PixelFormat::Rgb555 || pixels.format == PixelFormat::Rgb565) {
    if (static_cast<int64_t>(pixels.width) * 4 > INT_MAX) return false;
    if (!WidenTo32(pixels, &widened)) return false;
    source = widened.data();
    pitch = pixels.width * 4;
  }

  TjHandlePtr handle(tjInitCompress());
  if (!handle) return false;
  quality = std::clamp(quality, 0, 100);
  // At the highest quality the colour is kept at full resolution as well.
  const int subsampling = quality == 100 ? TJSAMP_444 : TJSAMP_420;
  unsigned char* output = nullptr;
  unsigned long outputSize = 0;
  const int result = tjCompress2(handle.get(), source, pixels.width, pitch, pixels.height,
                                 pixelFormat, &output, &outputSize, subsampling, quality, 0);
  TjBufferPtr jpeg(output);
  if (result != 0 || !jpeg || outputSize == 0) return false;

  std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(jpeg.get(), 1, outputSize, file.get()) == outputSize;
  // Closing flushes the buffered tail, so only its result says the file is whole.
  const bool closed = std::fclose(file.release()) == 0;
  return written && closed;
}

}  // namespace platform
