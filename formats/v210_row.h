// One row of v210 video: its geometry, and its row decoders into the bitmap.
#pragma once

#include <cstdint>

#include "colour/colour.h"
#include "formats/row_walk.h"

struct V210RowGeometry {  // six pixels a 16-byte group, rows padded to eight groups
  int32_t Width;          // pixels
  int32_t Groups;         // width / 48 rounded up, times 8
  int32_t Stride;         // bytes of one row in the file: 16 per group
  int32_t LumaSamples;    // pixels the groups hold, shown or not: 6 per group
};

constexpr V210RowGeometry GetV210RowGeometry(int32_t width) {  // the one place; width > 0
  const int32_t groups = ((width - 1) / 48 + 1) * 8;
  return V210RowGeometry{width, groups, groups * 16, groups * 6};
}

// 10-bit BT.2020 narrow-range YCbCr to 8-bit RGB, before the colour options stage.
void ConvertV210Pixel(int32_t y, int32_t cb, int32_t cr, PixelTriple& rgb);

// A row decoder: the shown columns 0, 2^scaleShift, 2 * 2^scaleShift, ... of the `groups` groups
// of `row` into `columns` consecutive pixels of `bitmapRow`, each pixel's fourth byte kept.
using V210RowDecoder = void (*)(const uint8_t* row, int32_t groups, int32_t columns,
                                int32_t scaleShift, uint8_t* bitmapRow);

// The definition, pixel by pixel; every other decoder gives its bytes. SSE2: four pixels a
// vector (every x86 build has it). AVX2: eight at Original size, six at 1/4, only where
// UseAvx2Kernels.
void DecodeV210RowPlain(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                        uint8_t* bitmapRow);
void DecodeV210RowSse2(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                       uint8_t* bitmapRow);
void DecodeV210RowAvx2(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                       uint8_t* bitmapRow);

extern const MissingRowBytes kV210BlackRowBytes;  // v210 black, where the file holds no row

// Byte offset of frame `index` of a movie, 64-bit; -1 when the frame cannot lie in any file
// (a negative index, or a position past 2^63 - 1).
int64_t MovFrameOffset(uint64_t dataOffset, uint32_t sampleSize, int32_t index);
