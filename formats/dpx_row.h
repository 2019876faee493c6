// The DPX row kernels: how each sample layout gives a pixel's R, G and B codes, the plain row
// kernel that defines a shown row, and the frame decode for a layout with a chosen kernel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/byte_order.h"
#include "formats/row_walk.h"

enum SampleKind { kBytes8, kWords16, kWords16Low12, kFilled10A, kFilled10B, kPacked10, kPacked12 };

// Samples of whole bytes, kBytes each: CodeAt gives the code of the sample at a byte.
struct Bytes8 {
  static constexpr size_t kBytes = 1;
  static uint32_t CodeAt(const uint8_t* sample) { return uint32_t(*sample) << 2; }
};

template <bool kLittleEndian>
struct Words16 {
  static constexpr size_t kBytes = 2;
  static uint32_t CodeAt(const uint8_t* sample) {
    return InFileOrder16<kLittleEndian>(sample) >> 6;
  }
};

template <bool kLittleEndian>
struct Words16Low12 {
  static constexpr size_t kBytes = 2;
  static uint32_t CodeAt(const uint8_t* sample) {
    return (InFileOrder16<kLittleEndian>(sample) & 0xFFFu) >> 2;
  }
};

// Samples that share words with others: Code gives the code of sample i of a row.
// Three to a word, the first at kFirstShift: 22 (method A) or 20 (method B).
template <bool kLittleEndian, uint32_t kFirstShift>
struct Filled10 {
  static uint32_t Code(const uint8_t* row, uint32_t i) {
    const uint32_t word = i / 3;
    return InFileOrder32<kLittleEndian>(row + 4 * size_t(word)) >>
               (kFirstShift - 10 * (i - 3 * word)) &
           0x3FF;
  }
};

// The word a sample starts in and the one after it, as one 64-bit number. The second word lies
// past the row when the sample does not run into it: still inside the read block, which keeps
// room after every row, and masked off.
template <bool kLittleEndian, uint32_t kBits>
struct Packed {
  static uint32_t Code(const uint8_t* row, uint32_t i) {
    const uint32_t bit = i * kBits;
    const uint8_t* word = row + size_t(bit / 32) * 4;
    const uint64_t pair =
        InFileOrder32<kLittleEndian>(word) | uint64_t(InFileOrder32<kLittleEndian>(word + 4)) << 32;
    return (uint32_t(pair >> (bit % 32)) & ((1u << kBits) - 1)) >> (kBits - 10);
  }
};
static_assert(uint64_t(kMaxSourceWidth) * 4 * 12 / 8 + 4 <= uint64_t(kReadBufferSize),
              "a packed row and the word after it fit the ReadBuffer");

// The codes of one pixel's R, G and B, the pixel at `at` of a row. Pixels of whole bytes are
// found by their first byte, kUnit bytes a pixel: a multiply per pixel costs a tenth.
template <class Sample, uint32_t kComponents>
struct WholeBytePixels {
  static constexpr size_t kUnit = Sample::kBytes * kComponents;
  static void Codes(const uint8_t* row, size_t at, uint32_t (&code)[3]) {
    code[0] = Sample::CodeAt(row + at);
    code[1] = Sample::CodeAt(row + at + Sample::kBytes);
    code[2] = Sample::CodeAt(row + at + 2 * Sample::kBytes);
  }
};

// An RGB pixel filled to 32 bits is one whole word: one load for three samples.
template <bool kLittleEndian, uint32_t kFirstShift>
struct Filled10RgbPixels {
  static constexpr size_t kUnit = 4;
  static void Codes(const uint8_t* row, size_t at, uint32_t (&code)[3]) {
    const uint32_t word = InFileOrder32<kLittleEndian>(row + at);
    code[0] = word >> kFirstShift & 0x3FF;
    code[1] = word >> (kFirstShift - 10) & 0x3FF;
    code[2] = word >> (kFirstShift - 20) & 0x3FF;
  }
};

// Other pixels are found by their index: samples p * components + 0, 1, 2.
template <class Sample, uint32_t kComponents>
struct IndexedPixels {
  static constexpr size_t kUnit = 1;
  static void Codes(const uint8_t* row, size_t at, uint32_t (&code)[3]) {
    const uint32_t i = uint32_t(at) * kComponents;
    code[0] = Sample::Code(row, i);
    code[1] = Sample::Code(row, i + 1);
    code[2] = Sample::Code(row, i + 2);
  }
};

// The plain kernel, the definition of a shown row: every Step-th pixel into consecutive bitmap
// pixels, from bitmap column `first` on. A mirrored row starts at the row's last pixel and walks
// back by unsigned steps that wrap; the last one may point before the row and is never read.
template <class Pixels>
struct DpxRow {
  static void Decode(const RowWalk& walk, uint8_t* destination) {
    DecodeFrom(walk, destination, 0);
  }
  static void DecodeFrom(const RowWalk& walk, uint8_t* destination, int32_t first) {
    const int32_t* narrowToFull = NarrowToFullTable;
    const uint8_t* row = walk.Rows[0];
    const size_t forward = size_t(walk.Step) * Pixels::kUnit;
    const size_t step = walk.Mirrored ? 0 - forward : forward;
    size_t at = (walk.Mirrored ? size_t(walk.Width - 1) * Pixels::kUnit : 0) + size_t(first) * step;
    destination += size_t(first) * 4;
    for (int32_t x = first; x < walk.Columns; ++x, at += step, destination += 4) {
      uint32_t code[3];
      Pixels::Codes(row, at, code);
      StorePixel({narrowToFull[code[0]], narrowToFull[code[1]], narrowToFull[code[2]]},
                 destination);
    }
  }
};

// The SSE2 kernel, defined in dpx_reader_sse2.cpp: eight pixels at a time at Original size, left
// to right; otherwise and for the last columns, the plain kernel.
template <class Pixels>
struct DpxRowSse2 {
  static void Decode(const RowWalk& walk, uint8_t* destination);
};

// Decodes the frame's rows of a layout through kernel Row: the one place a layout's pixel types
// are named, so every kernel serves the same layouts.
template <bool kLittleEndian, template <class> class Row>
int32_t DecodeDpxRows(const FrameRows& rows, SampleKind samples, uint32_t components) {
  constexpr bool L = kLittleEndian;
  const bool rgb = components == 3;
  switch (samples) {
    case kBytes8:
      return rgb ? DecodeFrame<Row<WholeBytePixels<Bytes8, 3>>>(rows)
                 : DecodeFrame<Row<WholeBytePixels<Bytes8, 4>>>(rows);
    case kWords16:
      return rgb ? DecodeFrame<Row<WholeBytePixels<Words16<L>, 3>>>(rows)
                 : DecodeFrame<Row<WholeBytePixels<Words16<L>, 4>>>(rows);
    case kWords16Low12:
      return rgb ? DecodeFrame<Row<WholeBytePixels<Words16Low12<L>, 3>>>(rows)
                 : DecodeFrame<Row<WholeBytePixels<Words16Low12<L>, 4>>>(rows);
    case kFilled10A:
      return rgb ? DecodeFrame<Row<Filled10RgbPixels<L, 22>>>(rows)
                 : DecodeFrame<Row<IndexedPixels<Filled10<L, 22>, 4>>>(rows);
    case kFilled10B:
      return rgb ? DecodeFrame<Row<Filled10RgbPixels<L, 20>>>(rows)
                 : DecodeFrame<Row<IndexedPixels<Filled10<L, 20>, 4>>>(rows);
    case kPacked10:
      return rgb ? DecodeFrame<Row<IndexedPixels<Packed<L, 10>, 3>>>(rows)
                 : DecodeFrame<Row<IndexedPixels<Packed<L, 10>, 4>>>(rows);
    case kPacked12:
      return rgb ? DecodeFrame<Row<IndexedPixels<Packed<L, 12>, 3>>>(rows)
                 : DecodeFrame<Row<IndexedPixels<Packed<L, 12>, 4>>>(rows);
  }
  return -1;
}

extern template int32_t DecodeDpxRows<false, DpxRowSse2>(const FrameRows&, SampleKind, uint32_t);
extern template int32_t DecodeDpxRows<true, DpxRowSse2>(const FrameRows&, SampleKind, uint32_t);
