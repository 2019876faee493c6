// The walk every reader shares over the shown file rows of a frame. At ScaleShift s, file row n
// of H shows when g = H - 1 - n is a multiple of 2^s, in bitmap row g >> s of the bottom-up
// bitmap (column x likewise); what would land past the bitmap's edge is dropped. Rows stored
// bottom first (g = n), padded or right to left show the same pixels.
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

// What a layout shows where its file holds no bytes, repeated along the row (v210 zeros: green).
struct MissingRowBytes {
  uint8_t Bytes[16];
};
extern const MissingRowBytes kZeroRowBytes;

struct RowOrder {
  uint32_t Padding;  // bytes after every row, never shown
  bool BottomUp;     // the first file row is the bottom of the picture
  bool Mirrored;     // a row's first pixel is the right edge of the picture
};

struct FrameRows {  // row k of every file is part of the same picture row
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
constexpr FrameReadSettings kFrameReadDefaults = {32, 1 << 20, 8 << 20, false};  // 8K DPX, cold
extern FrameReadSettings FrameReads;

struct RowWalk {
  const uint8_t* Rows[kMaxRowWalkFiles];  // file k's row, RowBytes long and more readable after
  uint32_t RowBytes;
  int32_t Width;    // W
  int32_t Columns;  // pixels written per shown row: W >> s
  int32_t Step;     // 2^s: source rows, and columns, from one shown to the next
  int32_t Shift;    // s
  bool Mirrored;    // RowOrder::Mirrored, for the row decoder
};

// False when the bitmap was not sized for this frame or its rows overflow the read block.
bool FrameRowsFit(const FrameRows& rows);

// A frame's shown rows in chunks of one request, chunk c in slot c % Slots. A chunk the file
// cache holds is read row by row by its decoder: the row stays in cache and no reader wakes.
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

void StartFrameReads(FrameJob& job, const FrameRows& rows, ColourStage stage);

// The next untaken chunk once read, bytes past a file's end the layout's missing ones; or -1.
int32_t TakeChunk(FrameJob& job);

// Points walk.Rows at shown row `row` of a taken chunk; returns its first bitmap pixel.
uint8_t* PointAtRow(const FrameJob& job, RowWalk& walk, int32_t chunk, int32_t row);

void FinishChunk(FrameJob& job, int32_t chunk);

void EndFrameReads(FrameJob& job);

// Warms the cache with the last frame's shown rows in another frame's files (firstRow -1: same).
void ReadAheadRows(const char* const* paths, int32_t fileCount, int64_t firstRow);

// B and G in one 16-bit store, R in a third byte, byte 3 never written: a third fewer stores
// than bytes, and no read-modify-write.
inline void StorePixel(PixelTriple triple, uint8_t* at) {
  const uint16_t blueGreen = uint16_t(triple.B | triple.G << 8);
  std::memcpy(at, &blueGreen, 2);
  at[2] = uint8_t(triple.R);
}

#if defined(__SSE2__)
// Four pixels whose fourth bytes are 0, each fourth byte at `at` kept (eight in the AVX2 file).
// Always inlined, so the -mavx2 file keeps no copy the linker could hand to other code.
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

// Four pixels, R, G and B one to a 32-bit lane, clamped to 0..255 by the packs.
inline void StoreFourPixels(__m128i red, __m128i green, __m128i blue, uint8_t* at) {
  // Bytes B0..B3 G0..G3 R0..R3 and four zeros; two byte interleaves make them four pixels.
  const __m128i bytes =
      _mm_packus_epi16(_mm_packs_epi32(blue, green), _mm_packs_epi32(red, _mm_setzero_si128()));
  const __m128i blueRed = _mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 8));
  StoreKeepingFourthBytes(_mm_unpacklo_epi8(blueRed, _mm_srli_si128(blueRed, 8)), at);
}

// NarrowToFullTable for eight 10-bit codes, one to a 16-bit lane, before the saturating pack.
inline __m128i NarrowToFullEight(__m128i codes) {
  return _mm_sub_epi16(_mm_mulhi_epu16(_mm_add_epi16(codes, _mm_set1_epi16(kNarrowToFullAdd)),
                                       _mm_set1_epi16(short(kNarrowToFullScale))),
                       _mm_set1_epi16(kNarrowToFullBias));
}

// Eight pixels given by their narrow-range codes, one to a 16-bit lane, stored as StorePixel.
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

// Which vector kernels rows decode through: set at start from the processor; tests vary them.
extern bool UseSse2Kernels;
extern bool UseAvx2Kernels;

int32_t LastFrameMissingRows();  // bitmap rows black where the last frame's files ended
void SetLastFrameMissingRows(int32_t rows);

// A worker's job: every row of the chunks it takes decoded, then coloured while still in cache.
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

int32_t FrameWorkerCount(const FrameJob& job);

// Decodes the current frame on every worker as its reads arrive; -1 when the bitmap cannot.
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

// DecodeFrame's reads on one worker, nothing decoded (the benchmarks' floor): rows read, or -1.
int32_t ReadFrameRowsOnly(const FrameRows& rows);
