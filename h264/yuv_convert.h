#pragma once

#include <cstdint>

// Planar YUV 4:2:0 (limited range) to RGB rows, in fixed-point arithmetic that fixes every
// output byte. All four take the same nine arguments and return nothing:
//   y, yStride      luma plane and bytes from one luma row to the next
//   u, v, uvStride  chroma planes (one sample per 2x2 block) and their row step
//   dst, width, height, pitch   destination rows, pitch bytes apart
// Rows are taken in pairs that share a chroma row; each row is converted in width / 8 steps
// of eight pixels, so the last width % 8 pixels of a row are left as they were. They trust
// their caller for the sizes of the planes and the destination, and read and write nothing
// outside them: a height of 0 or less or a width below 8 writes nothing, and an odd height
// converts its last row alone. Each picks, once, the fastest code path the processor runs;
// every path gives the same bytes.
//   Yuv420ToRgb32:  B, G, R, 0 per pixel
//   Yuv420ToRgb24:  B, G, R per pixel, and a 0 byte after each row's last converted pixel,
//                   after the last row only when width % 8 != 0 (then it lies in the row)
//   Yuv420ToRgb565: little-endian R5 G6 B5 word; the green field holds (G >> 3) << 1
//   Yuv420ToRgb555: little-endian 0 R5 G5 B5 word
void Yuv420ToRgb32(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                   int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch);
void Yuv420ToRgb24(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                   int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch);
void Yuv420ToRgb565(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch);
void Yuv420ToRgb555(const uint8_t* y, int32_t yStride, const uint8_t* u, const uint8_t* v,
                    int32_t uvStride, uint8_t* dst, int32_t width, int32_t height, int32_t pitch);
