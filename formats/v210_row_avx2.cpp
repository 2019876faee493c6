// The AVX2 v210 row decoder. At Original size and at 1/4 the planes are not needed: a block of
// four groups is 24 pixels, three vectors of eight, or six shown pixels at 1/4, each lane's
// sample picked straight from the words. Built
// with -mavx2: everything here has internal linkage or is always inlined, so no AVX2 instruction
// reaches code the other decoders run.

#include <immintrin.h>

#include <cstdint>

#include "formats/row_walk.h"
#include "formats/v210_kernels.h"
#include "formats/v210_row.h"

namespace {

inline __m256i QuotientOf40000(__m256i n) {
  const __m256 m = _mm256_cvtepi32_ps(_mm256_srai_epi32(n, 6));
  return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(m, _mm256_set1_ps(kV210InverseOf625)),
                                           _mm256_set1_ps(kV210HalfOver625)));
}

// Eight pixels' R, G and B, one sample to a 32-bit lane, as the SSE2 decoder converts four.
// Returns the lanes whose G lies on a multiple of 40000, all ones.
inline __m256i ConvertEight(__m256i y, __m256i cb, __m256i cr, __m256i& red, __m256i& green,
                            __m256i& blue) {
  const __m256i offsets = _mm256_set1_epi32(kV210Offsets);
  const __m256i lumaRed = _mm256_sub_epi16(_mm256_or_si256(y, _mm256_slli_epi32(cr, 16)), offsets);
  const __m256i lumaBlue = _mm256_sub_epi16(_mm256_or_si256(y, _mm256_slli_epi32(cb, 16)), offsets);
  const __m256i nGreen =
      _mm256_add_epi32(_mm256_madd_epi16(lumaBlue, _mm256_set1_epi32(kV210GreenOfBlueFactors)),
                       _mm256_madd_epi16(lumaRed, _mm256_set1_epi32(kV210GreenOfRedFactors)));
  green = QuotientOf40000(nGreen);
  red = QuotientOf40000(_mm256_madd_epi16(lumaRed, _mm256_set1_epi32(kV210RedFactors)));
  blue = QuotientOf40000(_mm256_madd_epi16(lumaBlue, _mm256_set1_epi32(kV210BlueFactors)));
  return _mm256_cmpeq_epi32(
      _mm256_slli_epi32(_mm256_madd_epi16(green, _mm256_set1_epi32(2 * kYcbcrFactorUnit)), 1),
      nGreen);
}

// Eight pixels into the bitmap at `at`, each channel clamped to 0..255 by the saturating packs.
inline void StoreEightPixels(__m256i red, __m256i green, __m256i blue, uint8_t* at) {
  // Each 128-bit half packs to B0..B3 G0..G3 R0..R3 and four zeros; one shuffle makes pixels.
  const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(blue, green),
                                            _mm256_packs_epi32(red, _mm256_setzero_si256()));
  const __m256i pixelOrder = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                              0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  StoreKeepingFourthBytes(_mm256_shuffle_epi8(bytes, pixelOrder), at);
}

// Each lane's word (0 to 7) and shift for Y, Cb and Cr.
struct LaneFields {
  int32_t Words[3][8];
  int32_t Shifts[3][8];
};

// Lane i takes pixel x of the row, its words counted from `firstWord`, modulo a vector's eight.
constexpr void PutLane(LaneFields& lanes, int32_t i, int32_t x, int32_t firstWord) {
  const int32_t fields[3] = {kV210LumaFields[x % 6], kV210BlueFields[x % 6 / 2],
                             kV210RedFields[x % 6 / 2]};
  for (int32_t plane = 0; plane < 3; ++plane) {
    lanes.Words[plane][i] = (4 * (x / 6) - firstWord + fields[plane] / 3) % 8;
    lanes.Shifts[plane][i] = 10 * (fields[plane] % 3);
  }
}

// For vector v of a block, pixels 8v .. 8v + 7, read from word 4v on.
constexpr LaneFields MakeBlockLanes(int32_t v) {
  LaneFields lanes = {};
  for (int32_t i = 0; i < 8; ++i) PutLane(lanes, i, 8 * v + i, 4 * v);
  return lanes;
}
alignas(32) constexpr LaneFields kBlockLanes[3] = {MakeBlockLanes(0), MakeBlockLanes(1),
                                                   MakeBlockLanes(2)};

// At 1/4 four groups hold six shown pixels, three in each 32-byte half: each lane picks its word
// from both halves and keeps the one of its own half. Lanes 6 and 7 repeat lane 5, so they add
// no multiple of their own; their two pixels are stored, then overwritten by what follows.
constexpr LaneFields MakeQuarterLanes() {
  LaneFields lanes = {};
  for (int32_t i = 0; i < 8; ++i) PutLane(lanes, i, 4 * (i < 6 ? i : 5), 0);
  return lanes;
}
alignas(32) constexpr LaneFields kQuarterLanes = MakeQuarterLanes();
constexpr int32_t kQuarterHighLanes = 0xf8;  // lanes 3 to 7 from the second half

inline __m256i LoadLanes(const int32_t (&lanes)[8]) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
}

// A plane's field of each lane, the lane's word already in it.
inline __m256i FieldOfWords(__m256i words, const LaneFields& lanes, int32_t plane) {
  return _mm256_and_si256(_mm256_srlv_epi32(words, LoadLanes(lanes.Shifts[plane])),
                          _mm256_set1_epi32(kV210FieldMask));
}

inline __m256i BlockField(__m256i words, const LaneFields& lanes, int32_t plane) {
  return FieldOfWords(_mm256_permutevar8x32_epi32(words, LoadLanes(lanes.Words[plane])), lanes,
                      plane);
}

inline __m256i QuarterField(__m256i low, __m256i high, int32_t plane) {
  const __m256i picks = LoadLanes(kQuarterLanes.Words[plane]);
  return FieldOfWords(
      _mm256_blend_epi32(_mm256_permutevar8x32_epi32(low, picks),
                         _mm256_permutevar8x32_epi32(high, picks), kQuarterHighLanes),
      kQuarterLanes, plane);
}

// A block is stored before its G multiples are looked at, and stored again by the definition if
// it has one (both block loops).
void StoreQuarterBlocks(const uint8_t* row, int32_t blocks, uint8_t* out) {
  for (int32_t b = 0; b < blocks; ++b, row += 64, out += 24) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 32));
    __m256i red, green, blue;
    const __m256i multiples = ConvertEight(QuarterField(low, high, 0), QuarterField(low, high, 1),
                                           QuarterField(low, high, 2), red, green, blue);
    StoreEightPixels(red, green, blue, out);
    if (_mm256_movemask_epi8(multiples) != 0) DecodeV210RowPlain(row, 4, 6, 2, out);
  }
}

void StoreBlocks(const uint8_t* row, int32_t blocks, uint8_t* out) {
  for (int32_t b = 0; b < blocks; ++b, row += 64, out += 96) {
    __m256i multiples = _mm256_setzero_si256();
    for (int32_t v = 0; v < 3; ++v) {
      const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 16 * v));
      const LaneFields& lanes = kBlockLanes[v];
      __m256i red, green, blue;
      multiples = _mm256_or_si256(
          multiples, ConvertEight(BlockField(words, lanes, 0), BlockField(words, lanes, 1),
                                  BlockField(words, lanes, 2), red, green, blue));
      StoreEightPixels(red, green, blue, out + 32 * v);
    }
    if (_mm256_movemask_epi8(multiples) != 0) DecodeV210RowPlain(row, 4, 24, 0, out);
  }
}

}  // namespace

void DecodeV210RowAvx2(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                       uint8_t* bitmapRow) {
  // A block is four groups; the SSE2 decoder takes the columns after the last whole one.
  int32_t blocks = 0, blockColumns = 0;
  if (scaleShift == 0) {
    blockColumns = 24;
    blocks = columns / blockColumns;
    StoreBlocks(row, blocks, bitmapRow);
  } else if (scaleShift == 2 && columns >= 8) {
    // Each block stores eight pixels for its six: the last leaves two to the SSE2 decoder.
    blockColumns = 6;
    blocks = (columns - 2) / blockColumns;
    StoreQuarterBlocks(row, blocks, bitmapRow);
  }
  DecodeV210RowSse2(row + size_t(blocks) * 64, groups - blocks * 4, columns - blocks * blockColumns,
                    scaleShift, bitmapRow + size_t(blocks) * blockColumns * 4);
}
