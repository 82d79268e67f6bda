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
                    int32_t destPitch, int32_t destWidth, int32_t destHeight, const Rect& destRect,
                    const Rect& clipRect);

// StretchToRgb32 with 0xFF as the fourth byte of every pixel written: the layout of an
// opaque 32-bit Qt image, so a window can show it without another pass.
void StretchToOpaqueRgb32(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                          int32_t destPitch, int32_t destWidth, int32_t destHeight,
                          const Rect& destRect, const Rect& clipRect);

// The same stretch into a destination in any of the four RGB layouts (a Palette8
// destination is left alone). Channels are narrowed by keeping their top bits, so a 16- or
// 24-bit source copied into its own layout keeps every bit.
void StretchPixels(const PixelView& source, const Rect& sourceRect, uint8_t* destBits,
                   int32_t destPitch, int32_t destWidth, int32_t destHeight, PixelFormat destFormat,
                   const Rect& destRect, const Rect& clipRect);

// 0x00RRGGBB as one pixel of the given layout, in its bytes, low byte first (Palette8: 0).
uint32_t PackPixel(uint32_t rgb, PixelFormat format);

// One pixel of the given layout at p as 0x00RRGGBB, widened as StretchToRgb32 widens it.
uint32_t UnpackPixel(const uint8_t* p, PixelFormat format);

}  // namespace platform
