// The row walk of the readers that take a frame straight from file rows into the bitmap: DPX
// (one file, 6-byte pixels) and planar R/G/B (three files in step, 2-byte samples).
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
#pragma once

#include <cstdint>

#include "platform/file.h"

constexpr int32_t kMaxRowWalkFiles = 3;

struct RowWalk {
  PlatformFile Files[kMaxRowWalkFiles];  // read in step, in this order
  int32_t FileCount;
  uint32_t RowBytes;  // one source row in each file; file k's row goes to ReadBuffer + k * RowBytes
  int32_t Columns;    // pixels written per shown row: W >> s
  int32_t Step;       // 2^s: source rows, and columns, from one shown to the next
  int32_t Shift;      // s
  int32_t NextRow;    // number g of the next shown row; below 0 when none is left
  int64_t PendingSkip;  // bytes of rows not shown, still to be passed over in each file
};

// Prepares a walk over the current frame for files positioned at their first pixel row, with
// bytesPerPixel bytes per source pixel in each file. Does no I/O. False when the bitmap cannot
// take the frame (it was not sized for the current source size and ScaleShift, or the rows do
// not fit the ReadBuffer): then nothing may be decoded. An empty bitmap has nothing to write:
// true, and the walk yields no row.
bool BeginRowWalk(RowWalk& walk, const PlatformFile* files, int32_t fileCount,
                  uint32_t bytesPerPixel);

// Passes over the rows that are not shown with relative seeks, reads the next shown row of
// every file into the ReadBuffer and returns the first bitmap pixel of the row it lands in;
// null when no shown row is left. The part of a row that a read did not deliver (the file ends
// early) is zero in the ReadBuffer: it decodes as black, never as a stale earlier row.
uint8_t* ReadNextShownRow(RowWalk& walk);
