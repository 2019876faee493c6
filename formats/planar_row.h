// The planar row kernels: the plain one defines a shown row.
#pragma once

#include "formats/byte_order.h"
#include "formats/row_walk.h"

constexpr uint32_t kPlanarBytesPerSample = 2;

// Bits 2 to 11 of a big-endian word; the four bits above the sample are not read.
inline uint32_t PlaneCode(const uint8_t* word) {
  return uint32_t(BigEndian16(word)) >> 2 & 0x3FF;
}

// Every Step-th sample of the three plane rows into bitmap pixels, from bitmap column `first`.
struct PlanarRow {
  static void Decode(const RowWalk& walk, uint8_t* destination) {
    DecodeFrom(walk, destination, 0);
  }
  static void DecodeFrom(const RowWalk& walk, uint8_t* destination, int32_t first) {
    const int32_t* narrowToFull = NarrowToFullTable;
    const size_t step = size_t(walk.Step) * kPlanarBytesPerSample;
    const uint8_t* red = walk.Rows[0] + size_t(first) * step;
    const uint8_t* green = walk.Rows[1] + size_t(first) * step;
    const uint8_t* blue = walk.Rows[2] + size_t(first) * step;
    destination += size_t(first) * 4;
    for (int32_t x = first; x < walk.Columns; ++x, red += step, green += step, blue += step) {
      StorePixel({narrowToFull[PlaneCode(red)], narrowToFull[PlaneCode(green)],
                  narrowToFull[PlaneCode(blue)]},
                 destination);
      destination += 4;
    }
  }
};

// Eight pixels at a time at Original size, the plain kernel otherwise and for the last columns.
int32_t DecodePlanarFrameSse2(const FrameRows& rows);
