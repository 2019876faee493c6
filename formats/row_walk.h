// The shape every reader shares: a walk over the file rows of one frame that reads only the
// rows shown, and hands each one to the reader's row decoder and then to the colour stage.
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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "colour/colour.h"
#include "core/viewer_state.h"
#include "platform/file.h"
#include "platform/workers.h"

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

// Where the rows of one frame lie, for every band of it: the reader's open files, which the first
// band reads, and their names, by which every other band opens its own, so the bands read at
// once and never share a file position. The row buffers hold one block of bufferBytes per band.
struct FrameRows {
  PlatformFile Files[kMaxRowWalkFiles];  // read in step, in this order
  const char* Paths[kMaxRowWalkFiles];   // the same files by name
  int32_t FileCount;
  int64_t FirstRow;   // offset of the first file row, in every file
  uint32_t RowBytes;  // one source row in each file
  RowOrder Order;
  const MissingRowBytes* Missing;
  uint8_t* RowBuffers;  // band b reads into RowBuffers + b * BufferBytes
  uint32_t BufferBytes;
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
  int32_t NextRow;      // bitmap row of the next shown row, in file order
  int32_t EndRow;       // the bitmap row where the band's walk ends
  int32_t RowAdvance;   // from one shown row's bitmap row to the next one's: -1 or 1
  int64_t RowStride;    // from the start of one file row to the next: RowBytes and the padding
  int64_t PendingSkip;  // bytes of rows not shown, still to be passed over in each file
  bool Mirrored;        // RowOrder::Mirrored, for the row decoder
  int32_t MissingRows;  // shown rows of the band that a file ended before
};

// The decode guard: false when the bitmap cannot take the frame (it was not sized for the
// current source size and ScaleShift) or a band's rows do not fit its buffer; then nothing may
// be decoded. An empty bitmap has nothing to write, and fits.
bool FrameRowsFit(const FrameRows& rows);

// The bands the frame's shown rows are cut into: one per worker, but no more than the bitmap has
// rows, and one for an empty bitmap. Even the smallest view, 1/8 of 4K, decodes faster in bands
// than on one thread.
int32_t FrameBandCount();

// Prepares the walk over band `band` of `bands` of the frame (the bitmap rows from
// rows * band / bands up to the next band's first), reading `files`, which are rows.Files or
// the band's own, and seeks them to the band's first shown row. A null file leaves every row
// of the band missing. Only for rows that FrameRowsFit.
void BeginRowWalk(RowWalk& walk, const FrameRows& rows, const PlatformFile* files, int32_t band,
                  int32_t bands);

// Passes over the rows that are not shown with relative seeks, reads the next shown row of
// every file into the row buffer and returns the first bitmap pixel of the row it lands in;
// null when no shown row of the band is left. What a read did not deliver (the file ends early)
// is the layout's missing bytes: it decodes as black, never as a stale earlier row.
uint8_t* ReadNextShownRow(RowWalk& walk);

// The one store of a single pixel into the bitmap: B and G in one little-endian 16-bit store and
// R in a third byte; byte 3 is never written. The stores are half of what decoding adds to the
// reads, and this saves one in three against byte stores or a read-modify-write of the whole
// pixel. The colour stage comes after the row is decoded.
inline void StorePixel(PixelTriple triple, uint8_t* at) {
  const uint16_t blueGreen = uint16_t(triple.B | triple.G << 8);
  std::memcpy(at, &blueGreen, 2);
  at[2] = uint8_t(triple.R);
}

#if defined(__SSE2__)
// A reader may store four or eight pixels at a time (every x86 build has SSE2; the 32-bit one is
// built with -msse2), the bytes exactly those of StorePixel.

// Four pixels whose fourth bytes are 0 into the bitmap at `at`, each fourth byte written back as
// it was.
inline void StoreKeepingFourthBytes(__m128i pixels, uint8_t* at) {
  __m128i* const pixel = reinterpret_cast<__m128i*>(at);
  const __m128i kept = _mm_and_si128(_mm_loadu_si128(pixel), _mm_set1_epi32(int32_t(0xff000000u)));
  _mm_storeu_si128(pixel, _mm_or_si128(pixels, kept));
}

// Four pixels, their R, G and B one to a 32-bit lane, each clamped to 0..255 by the saturating
// packs, into the bitmap at `at`.
inline void StoreFourPixels(__m128i red, __m128i green, __m128i blue, uint8_t* at) {
  // Bytes B0..B3 G0..G3 R0..R3 and four zeros; two byte interleaves make them four pixels.
  const __m128i bytes =
      _mm_packus_epi16(_mm_packs_epi32(blue, green), _mm_packs_epi32(red, _mm_setzero_si128()));
  const __m128i blueRed = _mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 8));
  StoreKeepingFourthBytes(_mm_unpacklo_epi8(blueRed, _mm_srli_si128(blueRed, 8)), at);
}

// NarrowToFullTable for eight 10-bit codes, one to a 16-bit lane, computed instead of looked up:
// ((code + 3) * 19077 >> 16) - 19, clamped to 0..255 by the saturating pack that follows, is the
// table's entry for every code from 0 to 1023 (the tests check all of them).
inline __m128i NarrowToFullEight(__m128i codes) {
  return _mm_sub_epi16(
      _mm_mulhi_epu16(_mm_add_epi16(codes, _mm_set1_epi16(3)), _mm_set1_epi16(19077)),
      _mm_set1_epi16(19));
}

// Eight pixels given by their narrow-range codes, one to a 16-bit lane of each channel, into the
// bitmap at `at` as StorePixel stores them.
inline void StoreEightCodes(__m128i redCodes, __m128i greenCodes, __m128i blueCodes, uint8_t* at) {
  const __m128i blueGreen =
      _mm_packus_epi16(NarrowToFullEight(blueCodes), NarrowToFullEight(greenCodes));
  const __m128i red = _mm_packus_epi16(NarrowToFullEight(redCodes), _mm_setzero_si128());
  const __m128i pairs = _mm_unpacklo_epi8(blueGreen, _mm_srli_si128(blueGreen, 8));
  const __m128i reds = _mm_unpacklo_epi8(red, _mm_setzero_si128());
  StoreKeepingFourthBytes(_mm_unpacklo_epi16(pairs, reds), at);
  StoreKeepingFourthBytes(_mm_unpackhi_epi16(pairs, reds), at + 16);
}
#endif

// A frame for the workers: its rows, the colour stage its pixels go through once decoded, and
// a count of missing rows for each band, each written by its own worker alone.
struct FrameJob {
  const FrameRows* Rows;
  ColourStage Stage;
  int32_t* BandMissingRows;
};

// How many rows of the bitmap the last decoded frame's files ended before (shown black): a file
// cut short is shown as far as it goes, and the tools say what is missing.
int32_t LastFrameMissingRows();
void SetLastFrameMissingRows(int32_t rows);

// One band of the frame through Decoder::Decode(walk, bitmapRow) and then the colour stage, row
// by row while the row is still in cache: the shape of a worker's job. Every band but the first
// opens its own files by name and closes them again.
template <class Decoder>
void DecodeBand(void* context, int32_t band, int32_t bands) {
  const FrameJob& job = *static_cast<const FrameJob*>(context);
  const FrameRows& rows = *job.Rows;
  PlatformFile own[kMaxRowWalkFiles] = {};
  if (band != 0) {
    for (int32_t k = 0; k < rows.FileCount; ++k) own[k] = PlatformOpenFile(rows.Paths[k]);
  }
  RowWalk walk;
  BeginRowWalk(walk, rows, band != 0 ? own : rows.Files, band, bands);
  while (uint8_t* bitmapRow = ReadNextShownRow(walk)) {
    Decoder::Decode(walk, bitmapRow);
    ApplyColourStage(job.Stage, bitmapRow, walk.Columns);
  }
  job.BandMissingRows[band] = walk.MissingRows;
  for (PlatformFile file : own) PlatformCloseFile(file);
}

// Decodes the current frame: every shown row through RowDecoder::Decode(walk, bitmapRow) and the
// colour stage for the options as they are now, the bands on every worker at once; returns when
// all are done. 0, or -1 when the bitmap cannot take the frame.
template <class RowDecoder>
int32_t DecodeFrame(const FrameRows& rows) {
  SetLastFrameMissingRows(0);
  if (!FrameRowsFit(rows)) return -1;
  int32_t bandMissingRows[kMaxWorkers] = {};
  FrameJob job = {&rows, PrepareColourStage(Viewer.HdrToSdr != 0, Viewer.Bt709 != 0),
                  bandMissingRows};
  PlatformRunWorkers(DecodeBand<RowDecoder>, &job, FrameBandCount());
  // Every band is done: their counts are all written and visible here.
  int32_t missing = 0;
  for (const int32_t rows : bandMissingRows) missing += rows;
  SetLastFrameMissingRows(missing);
  return 0;
}
