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

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "colour/colour.h"
#include "core/reasons.h"
#include "core/viewer_state.h"
#include "platform/file.h"
#include "platform/read_queue.h"
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
  uint32_t Padding;  // bytes after every row, never shown
  bool BottomUp;     // the first file row is the bottom of the picture
  bool Mirrored;     // a row's first pixel is the right edge of the picture
};

// Where the rows of one frame lie: the reader's open files, read at once by the readers of the
// read queue, row k of every file a part of the same picture row.
struct FrameRows {
  PlatformFile Files[kMaxRowWalkFiles];
  int32_t FileCount;
  int64_t FirstRow;   // offset of the first file row, in every file
  uint32_t RowBytes;  // one source row in each file
  RowOrder Order;
  const MissingRowBytes* Missing;
};

// How a frame's rows are read, chosen by measurement (bench/, README); the tests vary it.
struct FrameReadSettings {
  int32_t ReadsInFlight;   // requests outstanding at once, 1 .. kMaxReaders
  uint32_t RequestBytes;   // a request takes as many neighbouring rows as fit, at least one
  uint32_t BytesInFlight;  // and the requests outstanding no more bytes than this together
  bool ReadGaps;           // neighbouring shown rows are read with the rows between them
};
// Measured cold on this machine's disk, an 8K DPX frame (README): at 1/4, 32 row-sized reads in
// flight took 40-50 ms where 8 took 80; at Original size 8 requests of 1 MiB read as fast as the
// disk's sequential floor, 256 KiB requests and more bytes in flight were no faster. Reading the
// rows between shown ones at 1/2 reads twice the bytes and took half as long again as skipping
// them.
constexpr FrameReadSettings kFrameReadDefaults = {32, 1 << 20, 8 << 20, false};
extern FrameReadSettings FrameReads;

// What a row decoder sees: the current shown row of every file and the frame's geometry.
struct RowWalk {
  const uint8_t* Rows[kMaxRowWalkFiles];  // file k's row, RowBytes long and more readable after
  uint32_t RowBytes;
  int32_t Width;    // W
  int32_t Columns;  // pixels written per shown row: W >> s
  int32_t Step;     // 2^s: source rows, and columns, from one shown to the next
  int32_t Shift;    // s
  bool Mirrored;    // RowOrder::Mirrored, for the row decoder
};

// The decode guard: false when the bitmap cannot take the frame (it was not sized for the
// current source size and ScaleShift) or the frame's rows do not fit the read block; then
// nothing may be decoded. An empty bitmap has nothing to write, and fits.
bool FrameRowsFit(const FrameRows& rows);

// The reads of one frame. Its shown rows, in file order, are cut into chunks: one row, or as many
// neighbouring rows as one request takes. Chunk c is read into slot c % Slots of the read block,
// every file of it in one request, and the next chunk of a slot is queued when its decode is done,
// so Slots chunks are in flight while the workers decode the ones that arrived. A chunk the file
// cache holds is not queued: its decoder reads it row by row, each just before decoding it, so
// the row is still in the processor's cache and no reader thread is woken (a frame in memory
// decodes as fast as it did before the readers).
struct FrameJob {
  const FrameRows* Rows;
  ColourStage Stage;
  RowWalk Walk;          // the geometry; the row pointers are each worker's own
  int64_t FirstFileRow;  // the file row of the first shown row in file order
  int64_t RowStride;     // from the start of one file row to the next: RowBytes and the padding
  int32_t Shown;         // shown rows
  int32_t ChunkRows;     // shown rows per chunk
  int32_t Chunks;
  int32_t Slots;
  uint32_t SlotBytes;  // the block's room for one file of one slot
  std::atomic<int32_t> NextChunk;
  PlatformReadRequest Requests[kMaxReaders][kMaxRowWalkFiles];
  bool ReadByDecoder[kMaxReaders];           // the slot's chunk was found in the file cache
  mutable std::atomic<int32_t> MissingRows;  // shown rows that a file ended before
};

// Plans the frame's chunks and queues the first Slots of them. Only for rows that FrameRowsFit.
void StartFrameReads(FrameJob& job, const FrameRows& rows, ColourStage stage);

// The next chunk no worker has taken, once its reads have arrived and what they did not deliver
// (the file ends early) is the layout's missing bytes, which decode as black, never as a stale
// earlier row; -1 when every chunk is taken.
int32_t TakeChunk(FrameJob& job);

// Points walk.Rows at shown row `row` (counted in file order over the frame) of taken chunk
// `chunk`, reading it first when the chunk's decoder reads it, and returns the first bitmap
// pixel of the row it lands in.
uint8_t* PointAtRow(const FrameJob& job, RowWalk& walk, int32_t chunk, int32_t row);

// The chunk is decoded: its slot takes the next chunk's reads.
void FinishChunk(FrameJob& job, int32_t chunk);

// Waits for the reads still in flight (none after every chunk is finished) and keeps the frame's
// shape for read-ahead.
void EndFrameReads(FrameJob& job);

// Starts warming the file cache with the rows the frame last decoded showed, in the files of
// another frame laid out alike (`paths`, in the order of that frame's files), whose rows begin at
// `firstRow`; at -1, where the last frame's began, after a header read ahead too. Nothing when
// the other frame has another number of files.
void ReadAheadRows(const char* const* paths, int32_t fileCount, int64_t firstRow);

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
// it was; eight in a file built for AVX2. Always inlined, so that file (built with -mavx2) keeps
// no copy of its own that the linker could hand to other code.
__attribute__((always_inline)) inline void StoreKeepingFourthBytes(__m128i pixels, uint8_t* at) {
  __m128i* const pixel = reinterpret_cast<__m128i*>(at);
  const __m128i kept = _mm_and_si128(_mm_loadu_si128(pixel), _mm_set1_epi32(int32_t(0xff000000u)));
  _mm_storeu_si128(pixel, _mm_or_si128(pixels, kept));
}
#if defined(__AVX2__)
__attribute__((always_inline)) inline void StoreKeepingFourthBytes(__m256i pixels, uint8_t* at) {
  __m256i* const pixel = reinterpret_cast<__m256i*>(at);
  const __m256i kept =
      _mm256_and_si256(_mm256_loadu_si256(pixel), _mm256_set1_epi32(int32_t(0xff000000u)));
  _mm256_storeu_si256(pixel, _mm256_or_si256(pixels, kept));
}
#endif

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

// How many rows of the bitmap the last decoded frame's files ended before (shown black): a file
// cut short is shown as far as it goes, and the tools say what is missing.
int32_t LastFrameMissingRows();
void SetLastFrameMissingRows(int32_t rows);

// The chunks a worker takes, each row through Decoder::Decode(walk, bitmapRow) and then the
// colour stage while the row is still in cache: the shape of a worker's job.
template <class Decoder>
void DecodeChunks(void* context, int32_t, int32_t) {
  FrameJob& job = *static_cast<FrameJob*>(context);
  RowWalk walk = job.Walk;
  for (int32_t chunk; (chunk = TakeChunk(job)) >= 0;) {
    const int32_t first = chunk * job.ChunkRows;
    const int32_t end = first + job.ChunkRows < job.Shown ? first + job.ChunkRows : job.Shown;
    for (int32_t row = first; row < end; ++row) {
      uint8_t* bitmapRow = PointAtRow(job, walk, chunk, row);
      Decoder::Decode(walk, bitmapRow);
      ApplyColourStage(job.Stage, bitmapRow, walk.Columns);
    }
    FinishChunk(job, chunk);
  }
}

// The workers a frame is decoded on: every one, but no more than it has chunks.
int32_t FrameWorkerCount(const FrameJob& job);

// Decodes the current frame: every shown row through RowDecoder::Decode(walk, bitmapRow) and the
// colour stage for the options as they are now, on every worker at once, as its reads arrive;
// returns when all are done. 0, or -1 when the bitmap cannot take the frame.
template <class RowDecoder>
int32_t DecodeFrame(const FrameRows& rows) {
  SetLastFrameMissingRows(0);
  if (!FrameRowsFit(rows)) return SetReason(kReasonBitmapTooSmall, Viewer.Path), -1;
  FrameJob job;
  StartFrameReads(job, rows, PrepareColourStage(Viewer.HdrToSdr != 0, Viewer.Bt709 != 0));
  PlatformRunWorkers(DecodeChunks<RowDecoder>, &job, FrameWorkerCount(job));
  EndFrameReads(job);
  SetLastFrameMissingRows(job.MissingRows.load());
  return 0;
}

// The same reads as DecodeFrame on one worker, nothing decoded: the I/O floor of the benchmarks.
// The number of shown rows read, or -1 as DecodeFrame.
int32_t ReadFrameRowsOnly(const FrameRows& rows);
