#pragma once

#include <cstdint>

#include "platform/geometry.h"
#include "platform/pixel_format.h"

namespace platform {

// Stretches sourceRect of source onto destRect of a 32-bit (B, G, R, 0) destination of
// destWidth x destHeight pixels, writing only the pixels inside clipRect. Nearest sample:
// destination pixel d takes source pixel left + ((2d + 1) * sourceWidth) / (2 * destWidth).
// Source pixels in 16- and 24-bit layouts are widened to 8 bits per channel by repeating
// their top bits. Rectangles are clamped to the source and destination, so nothing outside
// either is ever read or written; an empty rectangle writes nothing.
void StretchToRgb32(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                    int32_t destPitch, int32_t destWidth, int32_t destHeight,
                    const Rect& destRect, const Rect& clipRect);

}  // namespace platform
