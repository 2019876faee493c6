// One row of v210 video: its geometry, unpacking into sample planes, and conversion of the
// shown columns into the bitmap. Used by the movie frame reader; exposed for its tests.
#pragma once

#include <cstdint>

#include "colour/colour.h"

// v210 packs six pixels into every 16-byte group, so a row holds whole groups. The planes are
// padded to whole groups too, so that unpacking writes all twelve fields of every group with no
// test for the row's end; only the first `width` samples are ever shown.
struct V210RowGeometry {
  int32_t width;          // pixels
  int32_t groups;         // width / 6 rounded up
  int32_t stride;         // bytes of one row in the file: 16 per group
  int32_t lumaSamples;    // Y plane length: 6 per group
  int32_t chromaSamples;  // Cb and Cr plane lengths: 3 per group
};

// The one place the row geometry is computed. width > 0.
constexpr V210RowGeometry GetV210RowGeometry(int32_t width) {
  const int32_t groups = (width - 1) / 6 + 1;
  // For the frame widths that exist (3840, 7680) the stride is the usual (2 * width / 3) * 4.
  return V210RowGeometry{width, groups, groups * 16, groups * 6, groups * 3};
}

// Unpacks every group of `row` (geometry.stride bytes) into the Y, Cb and Cr planes, each of
// the length the geometry gives. Bits 30 and 31 of every word are ignored.
void UnpackV210Row(const uint8_t* row, const V210RowGeometry& geometry, uint16_t* y, uint16_t* cb,
                   uint16_t* cr);

// BT.2020 narrow-range YCbCr (10-bit) to 8-bit RGB, before the colour options stage.
void ConvertV210Pixel(int32_t y, int32_t cb, int32_t cr, PixelTriple& rgb);

// Converts columns 0, 2^scaleShift, 2 * 2^scaleShift, ... below `width` through the colour
// options stage and stores them as B, G, R into consecutive pixels of `bitmapRow`; the fourth
// byte of each pixel is left alone. An odd column shares the chroma of the even one before it.
void StoreV210Row(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t width,
                  int32_t scaleShift, uint8_t* bitmapRow);

// Fills bytes [from, to) of a row with the v210 encoding of black, group-aligned as if the row
// had been read whole: what a row shows where the file holds no bytes for it.
void FillV210Black(uint8_t* row, uint32_t from, uint32_t to);

// Byte offset of frame `index` of a movie, 64-bit; -1 when the frame cannot lie in any file
// (a negative index, or a position past 2^63 - 1).
int64_t MovFrameOffset(uint64_t dataOffset, uint32_t sampleSize, int32_t index);
