// One row of v210 video: its geometry, unpacking into sample planes, and conversion of the
// shown columns into the bitmap: the movie frame reader's row decoder.
#pragma once

#include <cstdint>

#include "colour/colour.h"
#include "formats/row_walk.h"

// v210 packs six pixels into every 16-byte group, and pads every row to a multiple of 128 bytes
// (eight groups, 48 pixels): a 4096-pixel row is 11008 bytes, not 10928. Unpacking writes all
// twelve fields of every group, 6 luma and 3 of each chroma sample, with no test for the row's
// end; only the first `width` pixels are ever shown.
struct V210RowGeometry {
  int32_t width;        // pixels
  int32_t groups;       // width / 48 rounded up, times 8
  int32_t stride;       // bytes of one row in the file: 16 per group
  int32_t lumaSamples;  // pixels the groups hold, shown or not: 6 per group
};

// The one place the row geometry is computed. width > 0.
constexpr V210RowGeometry GetV210RowGeometry(int32_t width) {
  const int32_t groups = ((width - 1) / 48 + 1) * 8;
  return V210RowGeometry{width, groups, groups * 16, groups * 6};
}

// Unpacks `groups` groups of `row` (16 bytes each) into the Y, Cb and Cr planes: 6, 3 and 3
// samples a group. Bits 30 and 31 of every word are ignored.
void UnpackV210Row(const uint8_t* row, int32_t groups, uint16_t* y, uint16_t* cb, uint16_t* cr);

// BT.2020 narrow-range YCbCr (10-bit) to 8-bit RGB, before the colour options stage.
void ConvertV210Pixel(int32_t y, int32_t cb, int32_t cr, PixelTriple& rgb);

// Converts `columns` shown columns, 0, 2^scaleShift, 2 * 2^scaleShift, ..., and stores them into
// consecutive pixels of `bitmapRow`. An odd column shares the chroma of the even one before it.
void StoreV210Row(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t columns,
                  int32_t scaleShift, uint8_t* bitmapRow);

// One raw row of `groups` groups into the bitmap: the shown columns of UnpackV210Row's planes
// through StoreV210Row, a few groups at a time, so the planes never leave the first-level cache
// between the two; at Original size, where the processor has AVX2, whole blocks of 24 pixels
// straight from the words.
void DecodeV210Row(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                   uint8_t* bitmapRow);

// What a row shows where the file holds no bytes for it: v210 black, group by group.
extern const MissingRowBytes kV210BlackRowBytes;

// Byte offset of frame `index` of a movie, 64-bit; -1 when the frame cannot lie in any file
// (a negative index, or a position past 2^63 - 1).
int64_t MovFrameOffset(uint64_t dataOffset, uint32_t sampleSize, int32_t index);
