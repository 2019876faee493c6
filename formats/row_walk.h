// The shape every reader shares: a walk over the file rows of one frame that reads only the
// rows shown, and hands each one to the reader's row decoder, built for the frame's colour
// options.
//
// Which source pixels are shown at ScaleShift s, for a W x H source and its
// (W >> s) x (H >> s) bitmap:
//
//   file row:  0       1       ...  H - 1        (the first file row is the top of the picture)
//   number g:  H - 1   H - 2   ...  0            (counted from the bottom)
//
//   row g is shown when g is a multiple of 2^s and lands in bitmap row g >> s, bitmap rows
//   counted from the start of the pixel area (the bottom of the picture), so the last file row
//   is always bitmap row 0 and the picture stands upright;
//   column x is shown when x is a multiple of 2^s and lands in bitmap column x >> s.
//
// When W or H is not a multiple of 2^s, the rightmost kept column and the topmost kept row would
// land one past the bitmap's edge: both are dropped, so every write stays inside the bitmap.
//
// A layout may store its rows otherwise (RowOrder): the bottom of the picture first, so the walk
// runs upwards and g is the file row's own number; padding after every row, passed over; or
// pixels right to left, which only the row decoder sees. The same rows and columns are shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "colour/colour.h"
#include "core/viewer_state.h"
#include "platform/file.h"

constexpr int32_t kMaxRowWalkFiles = 3;

// What a layout shows where its file holds no bytes: the 16-byte pattern repeats from the
// start of every row (zeros for RGB samples; v210 needs real black, zeros are dark green).
struct MissingRowBytes {
  uint8_t Bytes[16];
};
extern const MissingRowBytes kZeroRowBytes;

// How the rows lie in the file where that is not top first, left to right, back to back.
struct RowOrder {
  uint32_t Padding;  // bytes after every row, never read
  bool BottomUp;     // the first file row is the bottom of the picture
  bool Mirrored;     // a row's first pixel is the right edge of the picture
};

struct RowWalk {
  PlatformFile Files[kMaxRowWalkFiles];  // read in step, in this order
  int32_t FileCount;
  uint8_t* Rows;      // file k's row goes to Rows + k * RowBytes
  uint32_t RowBytes;  // one source row in each file
  const MissingRowBytes* Missing;
  bool Located;         // false when the first row could not be reached: every row is missing
  int32_t Width;        // W
  int32_t Columns;      // pixels written per shown row: W >> s
  int32_t Step;         // 2^s: source rows, and columns, from one shown to the next
  int32_t Shift;        // s
  int32_t NextRow;      // number g of the next shown row; below 0 when none is left
  int32_t TopRow;       // number g of the topmost shown row
  int32_t RowAdvance;   // from one shown row's g to the next one's in file order: -Step or Step
  int64_t RowStride;    // from the start of one file row to the next: RowBytes and the padding
  int64_t PendingSkip;  // bytes of rows not shown, still to be passed over in each file
  bool Mirrored;        // RowOrder::Mirrored, for the row decoder
};

// Prepares a walk over the current frame: the first row of every file at firstRow, rowBytes
// bytes per source row, rows read into rowBuffer (bufferBytes long). Seeks the files to the
// first row. False when the bitmap cannot take the frame (it was not sized for the current
// source size and ScaleShift, or the rows do not fit the buffer): then nothing may be decoded.
// An empty bitmap has nothing to write: true, and the walk yields no row.
bool BeginRowWalk(RowWalk& walk, const PlatformFile* files, int32_t fileCount, int64_t firstRow,
                  uint32_t rowBytes, uint8_t* rowBuffer, uint32_t bufferBytes,
                  const MissingRowBytes& missing, const RowOrder& order = {});

// Passes over the rows that are not shown with relative seeks, reads the next shown row of
// every file into the row buffer and returns the first bitmap pixel of the row it lands in;
// null when no shown row is left. What a read did not deliver (the file ends early) is the
// layout's missing bytes: it decodes as black, never as a stale earlier row.
uint8_t* ReadNextShownRow(RowWalk& walk);

// The one store into the bitmap: the triple through the colour options stage built for the
// frame's flags, then B and G in one little-endian 16-bit store and R in a third byte; byte 3
// is never written. The stores are half of what decoding adds to the reads, and this saves one
// in three against byte stores or a read-modify-write of the whole pixel.
template <bool kHdrToSdr, bool kBt709>
inline void StorePixel(PixelTriple triple, uint8_t* at) {
  ApplyColourOptions<kHdrToSdr, kBt709>(triple);
  const uint16_t blueGreen = uint16_t(triple.B | triple.G << 8);
  std::memcpy(at, &blueGreen, 2);
  at[2] = uint8_t(triple.R);
}

// Decodes the current frame: a walk begun as BeginRowWalk has it, every shown row through
// RowDecoder<kHdrToSdr, kBt709>::Decode(walk, bitmapRow). The decoder is chosen here, once for
// the frame: nothing can toggle an option while a frame decodes, and one built for the
// combination leaves out the flag tests per pixel. 0, or -1 when the bitmap cannot take the
// frame.
template <template <bool, bool> class RowDecoder>
int32_t DecodeFrame(const PlatformFile* files, int32_t fileCount, int64_t firstRow,
                    uint32_t rowBytes, uint8_t* rowBuffer, uint32_t bufferBytes,
                    const MissingRowBytes& missing, const RowOrder& order = {}) {
  RowWalk walk;
  if (!BeginRowWalk(walk, files, fileCount, firstRow, rowBytes, rowBuffer, bufferBytes, missing,
                    order)) {
    return -1;
  }
  const auto run = [&walk](auto decode) {
    while (uint8_t* bitmapRow = ReadNextShownRow(walk)) decode(walk, bitmapRow);
    return 0;
  };
  if (Viewer.Bt709 != 0) {
    if (Viewer.HdrToSdr != 0) return run(RowDecoder<true, true>::Decode);
    return run(RowDecoder<false, true>::Decode);
  }
  if (Viewer.HdrToSdr != 0) return run(RowDecoder<true, false>::Decode);
  return run(RowDecoder<false, false>::Decode);
}
