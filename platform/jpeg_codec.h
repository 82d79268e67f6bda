#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/pixel_format.h"

namespace platform {

// Largest picture a JPEG may declare before it is refused undecoded, so a damaged or
// hostile header cannot demand a huge allocation.
constexpr int64_t MAX_JPEG_PIXELS = 8192LL * 8192LL;

struct DecodedImage {
  int32_t width = 0;  // the JPEG's own size; 0 and 0 when it cannot be decoded
  int32_t height = 0;
  std::vector<uint8_t> pixels;  // 32-bit rows (B, G, R, 0), perhaps at a reduced scale
  int32_t pixelWidth = 0;
  int32_t pixelHeight = 0;
  int32_t pitch = 0;

  PixelView View() const {
    return PixelView{pixels.data(), pitch, pixelWidth, pixelHeight, PixelFormat::Rgb32};
  }
};

// Stands for the JPEG side of GDI+. Decodes one whole JPEG file image. With a target size
// it may decode at a reduced scale that is still at least the target in both directions,
// since the picture is stretched to the target afterwards; width and height stay the
// JPEG's own.
DecodedImage DecodeJpeg(const uint8_t* data, size_t length, int32_t targetWidth = 0,
                        int32_t targetHeight = 0);

// Writes pixels (any of the four RGB layouts) as a JPEG file of their size at quality
// 0..100. Returns true only when the whole file was written and closed.
bool WriteJpegFile(const PixelView& pixels, int32_t quality, const std::string& path);

}  // namespace platform
