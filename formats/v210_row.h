// One row of v210 video: its geometry, and its row decoders into the bitmap.
#pragma once

#include <cstdint>

#include "colour/colour.h"
#include "formats/row_walk.h"

// Six pixels in every 16-byte group, every row padded to eight groups (48 pixels, 128 bytes).
struct V210RowGeometry {
  int32_t Width;        // pixels
  int32_t Groups;       // width / 48 rounded up, times 8
  int32_t Stride;       // bytes of one row in the file: 16 per group
  int32_t LumaSamples;  // pixels the groups hold, shown or not: 6 per group
};

// The one place the row geometry is computed. width > 0.
constexpr V210RowGeometry GetV210RowGeometry(int32_t width) {
  const int32_t groups = ((width - 1) / 48 + 1) * 8;
  return V210RowGeometry{width, groups, groups * 16, groups * 6};
}

// BT.2020 narrow-range YCbCr (10-bit) to 8-bit RGB, before the colour options stage.
void ConvertV210Pixel(int32_t y, int32_t cb, int32_t cr, PixelTriple& rgb);

// A row decoder: the shown columns 0, 2^scaleShift, 2 * 2^scaleShift, ... of the `groups` groups
// of `row` into `columns` consecutive pixels of `bitmapRow`, each pixel's fourth byte kept.
using V210RowDecoder = void (*)(const uint8_t* row, int32_t groups, int32_t columns,
                                int32_t scaleShift, uint8_t* bitmapRow);

// The definition, pixel by pixel; every other decoder gives its bytes.
void DecodeV210RowPlain(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                        uint8_t* bitmapRow);
// Four pixels a vector; every x86 build has SSE2.
void DecodeV210RowSse2(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                       uint8_t* bitmapRow);
// Eight pixels a vector at Original size, else as DecodeV210RowSse2; only where
// ProcessorHasAvx2().
void DecodeV210RowAvx2(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                       uint8_t* bitmapRow);
// Asked of the processor once, at start.
bool ProcessorHasAvx2();

// What a row shows where the file holds no bytes for it: v210 black, group by group.
extern const MissingRowBytes kV210BlackRowBytes;

// Byte offset of frame `index` of a movie, 64-bit; -1 when the frame cannot lie in any file
// (a negative index, or a position past 2^63 - 1).
int64_t MovFrameOffset(uint64_t dataOffset, uint32_t sampleSize, int32_t index);
