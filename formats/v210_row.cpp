// v210 rows: 10-bit 4:2:2 YCbCr, six pixels in every 16 bytes.
//
// A group is four little-endian 32-bit words of three 10-bit fields each (bits 30 and 31 unused):
//
//   word   bits 0-9   bits 10-19   bits 20-29
//    0     Cb0        Y0           Cr0
//    1     Y1         Cb1          Y2
//    2     Cr1        Y3           Cb2
//    3     Y4         Cr2          Y5
//
// Cb0/Cr0 belong to pixels 0 and 1, Cb1/Cr1 to pixels 2 and 3, Cb2/Cr2 to pixels 4 and 5.
//
// Unpacking and conversion have SSE2 paths, which every x86 build has (the 32-bit one is built
// with -msse2), and at Original size, where the processor has AVX2, a path that converts straight
// from the words; the plain loops beside them are the definition, and also finish each row.

#include "formats/v210_row.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>
// Built for processors with AVX2 whatever the build's baseline, and chosen per row at run time.
#define ZELKORA_AVX2 __attribute__((target("avx2")))
#endif

#include "formats/byte_order.h"
#include "formats/row_walk.h"

namespace {

constexpr uint32_t kFieldMask = 0x3ff;

// Field k of a group lies in word k / 3 from bit 10 * (k % 3), k counted in the table's order
// (Cb0 Y0 Cr0 Y1 ...): the fields of Y0..Y5, and of the Cb and Cr of pixels 0-1, 2-3 and 4-5.
constexpr int32_t kLumaFields[6] = {1, 3, 5, 7, 9, 11};
constexpr int32_t kBlueFields[3] = {0, 4, 8};
constexpr int32_t kRedFields[3] = {2, 6, 10};

// A 10-bit-scale result to a byte: truncate toward zero, drop two bits, clamp. The shift keeps
// the sign, and every negative value clamps to 0 whichever way it rounds.
int32_t ToByte(double v) {
  const int32_t scaled = int32_t(v) >> 2;
  return scaled < 0 ? 0 : (scaled > 255 ? 255 : scaled);
}

constexpr uint32_t PackWord(uint32_t low, uint32_t middle, uint32_t high) {
  return low | middle << 10 | high << 20;
}

#if defined(__SSE2__)
// Lanes 0 and 1 from a, then lanes 2 and 3 from b, each chosen by kLanes as _MM_SHUFFLE has it.
template <int kLanes>
__m128i PickLanes(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), kLanes));
}

// Four groups (64 bytes) at once: the plain loop is bound by its twelve 16-bit stores a group.
// Word k of the four groups is gathered into one vector, so each field is one shift and one mask
// for all four; two neighbouring samples of one plane then share a 32-bit lane (the first in the
// low half, as little-endian memory has it), and whole-lane shuffles put the lanes in plane
// order. 24 luma and 2 x 12 chroma samples come out.
void UnpackFourGroups(const uint8_t* row, uint16_t* y, uint16_t* cb, uint16_t* cr) {
  const __m128i g0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
  const __m128i g1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16));
  const __m128i g2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 32));
  const __m128i g3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 48));
  const __m128i t0 = _mm_unpacklo_epi32(g0, g1);
  const __m128i t1 = _mm_unpacklo_epi32(g2, g3);
  const __m128i t2 = _mm_unpackhi_epi32(g0, g1);
  const __m128i t3 = _mm_unpackhi_epi32(g2, g3);
  const __m128i w0 = _mm_unpacklo_epi64(t0, t1);  // word 0 of groups 0..3
  const __m128i w1 = _mm_unpackhi_epi64(t0, t1);
  const __m128i w2 = _mm_unpacklo_epi64(t2, t3);
  const __m128i w3 = _mm_unpackhi_epi64(t2, t3);
  const __m128i w0next = _mm_srli_si128(w0, 4);  // word 0 of the group after each

  // A field to the low half of a lane (low) or to the high half (high).
  const __m128i low = _mm_set1_epi32(0x3ff);
  const __m128i high = _mm_set1_epi32(0x3ff << 16);
  const auto pair = [&](__m128i first, __m128i second) {
    return _mm_or_si128(_mm_and_si128(first, low), _mm_and_si128(second, high));
  };
  // Luma pairs Y0 Y1, Y2 Y3, Y4 Y5 of each group.
  const __m128i p = pair(_mm_srli_epi32(w0, 10), _mm_slli_epi32(w1, 16));
  const __m128i q = pair(_mm_srli_epi32(w1, 20), _mm_slli_epi32(w2, 6));
  const __m128i r = pair(w3, _mm_srli_epi32(w3, 4));
  // Cb0 Cb1, Cb1 Cb2 and Cb2 with the next group's Cb0; the same for Cr.
  const __m128i cbA = pair(w0, _mm_slli_epi32(w1, 6));
  const __m128i cbB = pair(_mm_srli_epi32(w1, 10), _mm_srli_epi32(w2, 4));
  const __m128i cbC = pair(_mm_srli_epi32(w2, 20), _mm_slli_epi32(w0next, 16));
  const __m128i crA = pair(_mm_srli_epi32(w0, 20), _mm_slli_epi32(w2, 16));
  const __m128i crB = pair(w2, _mm_slli_epi32(w3, 6));
  const __m128i crC = pair(_mm_srli_epi32(w3, 10), _mm_srli_epi32(w0next, 4));

  // Luma in plane order, lane by lane: p0 q0 r0 p1 | q1 r1 p2 q2 | r2 p3 q3 r3.
  __m128i* const yOut = reinterpret_cast<__m128i*>(y);
  _mm_storeu_si128(
      yOut, PickLanes<_MM_SHUFFLE(3, 0, 1, 0)>(_mm_unpacklo_epi32(p, q), _mm_unpacklo_epi32(r, p)));
  _mm_storeu_si128(yOut + 1, PickLanes<_MM_SHUFFLE(1, 0, 3, 2)>(_mm_unpacklo_epi32(q, r),
                                                                _mm_unpackhi_epi32(p, q)));
  _mm_storeu_si128(yOut + 2, PickLanes<_MM_SHUFFLE(3, 2, 3, 0)>(_mm_unpackhi_epi32(r, p),
                                                                _mm_unpackhi_epi32(q, r)));
  // Chroma in plane order: A0 C0 B1 A2 | C2 B3.
  const auto storeChroma = [&](uint16_t* out, __m128i a, __m128i b, __m128i c) {
    const __m128i first = PickLanes<_MM_SHUFFLE(2, 0, 1, 0)>(
        _mm_unpacklo_epi32(a, c), PickLanes<_MM_SHUFFLE(2, 2, 1, 1)>(b, a));
    const __m128i last = _mm_shuffle_epi32(_mm_unpackhi_epi64(c, b), _MM_SHUFFLE(3, 3, 3, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8), last);
  };
  storeChroma(cb, cbA, cbB, cbC);
  storeChroma(cr, crA, crB, crC);
}
#endif

}  // namespace

void UnpackV210Row(const uint8_t* row, int32_t groups, uint16_t* y, uint16_t* cb, uint16_t* cr) {
  int32_t g = 0;
#if defined(__SSE2__)
  for (; g + 4 <= groups; g += 4, row += 64, y += 24, cb += 12, cr += 12) {
    UnpackFourGroups(row, y, cb, cr);
  }
#endif
  for (; g < groups; ++g, row += 16, y += 6, cb += 3, cr += 3) {
    const uint32_t words[4] = {LittleEndian32(row), LittleEndian32(row + 4),
                               LittleEndian32(row + 8), LittleEndian32(row + 12)};
    const auto field = [&words](int32_t k) {
      return uint16_t(words[k / 3] >> (10 * (k % 3)) & kFieldMask);
    };
    for (int32_t q = 0; q < 6; ++q) y[q] = field(kLumaFields[q]);
    for (int32_t c = 0; c < 3; ++c) cb[c] = field(kBlueFields[c]), cr[c] = field(kRedFields[c]);
  }
}

void ConvertV210Pixel(int32_t y, int32_t cb, int32_t cr, PixelTriple& rgb) {
  // BT.2020 coefficients for narrow-range input, luma scaled by 255/219 and chroma by 255/224,
  // rounded to four decimals. The results are on a 10-bit scale (0..1020 for nominal range).
  const double luma = double(y - 64) * 1.1644;
  const double blueDiff = cb - 512.0;
  const double redDiff = cr - 512.0;
  rgb.R = ToByte(luma + 1.6787 * redDiff);
  rgb.G = ToByte((luma - 0.1874 * blueDiff) - 0.6505 * redDiff);
  rgb.B = ToByte(luma + 2.1418 * blueDiff);
}

namespace {

#if defined(__SSE2__)
// The conversion in integers. With Y' = Y - 64, Cb' = Cb - 512 and Cr' = Cr - 512, the values
// ConvertV210Pixel forms are N / 10000 for the integers
//
//   R: N = 11644 Y' + 16787 Cr'
//   G: N = 11644 Y' - 1874 Cb' - 6505 Cr'
//   B: N = 11644 Y' + 21418 Cb'
//
// to within 1e-11 (the rounding of a few doubles of at most a few thousand), and its byte is the
// value over 4, truncated and clamped. Unless N is a multiple of 40000, N / 10000 lies 1e-4 or
// more from every multiple of 4, so that byte is floor(N / 40000) clamped: exactly. Where N is a
// multiple, the doubles may fall just below it and give one less: for R and B they never do
// (every such Y', Cr' and Y', Cb' pair was tried), for G they do in 430 of its 26841 such
// triples, so pixels that meet a G multiple of 40000 are left to ConvertV210Pixel itself.
//
// Each N is one multiply-add of two 16-bit factors, one lane a pixel. floor(N / 40000) is
// floor(floor(N / 64) / 625), and in single precision floor(N / 64) * (1 / 625) + 0.5 / 625,
// truncated, is the quotient for every N the samples can give, the sum never being within 1/1250
// of an integer; below 0 it truncates to 0 or less, which clamps to 0 as the floor does.
inline __m128i QuotientOf40000(__m128i n) {
  const __m128 m = _mm_cvtepi32_ps(_mm_srai_epi32(n, 6));
  return _mm_cvttps_epi32(
      _mm_add_ps(_mm_mul_ps(m, _mm_set1_ps(1.0f / 625.0f)), _mm_set1_ps(0.5f / 625.0f)));
}

// Two 16-bit factors for a lane whose low half is the first sample and high half the second.
constexpr int32_t FactorPair(int32_t low, int32_t high) {
  return int32_t(uint32_t(low & 0xFFFF) | uint32_t(high & 0xFFFF) << 16);
}

// The samples of four shown pixels as 32-bit lanes.
struct FourPixels {
  __m128i y, cb, cr;
};

__m128i LoadSamples(const uint16_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Samples 0, 2, 4 and 6 of the eight at `at`: the low half of every 32-bit lane.
__m128i EverySecond(const uint16_t* at) {
  return _mm_and_si128(LoadSamples(at), _mm_set1_epi32(0xffff));
}

// Samples 0, 4, 8 and 12 of the sixteen at `at`.
__m128i EveryFourth(const uint16_t* at) {
  const int lanes02 = _MM_SHUFFLE(2, 0, 2, 0);
  return _mm_unpacklo_epi64(_mm_shuffle_epi32(EverySecond(at), lanes02),
                            _mm_shuffle_epi32(EverySecond(at + 8), lanes02));
}

// Pixels k .. k + 3, shown columns x = k << kShift and so on, with chroma index x / 2. Reads
// samples below (k + 4) << kShift only, in each plane its own share of that.
template <int kShift>
FourPixels GatherFour(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t k) {
  const __m128i zero = _mm_setzero_si128();
  if (kShift == 0) {
    // Columns k .. k + 3 share chroma k / 2 and k / 2 + 1 in pairs.
    const auto pairs = [&](const uint16_t* plane) {
      int32_t two;
      std::memcpy(&two, plane + k / 2, sizeof two);
      const __m128i v = _mm_unpacklo_epi16(_mm_cvtsi32_si128(two), zero);
      return _mm_unpacklo_epi32(v, v);
    };
    return {_mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + k)), zero),
            pairs(cb), pairs(cr)};
  } else if (kShift == 1) {
    const auto four = [&](const uint16_t* plane) {
      return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + k)), zero);
    };
    return {EverySecond(y + 2 * k), four(cb), four(cr)};
  } else if (kShift == 2) {
    return {EveryFourth(y + 4 * k), EverySecond(cb + 2 * k), EverySecond(cr + 2 * k)};
  } else {
    const int32_t x = k << kShift;
    const int32_t step = 1 << kShift;
    return {_mm_setr_epi32(y[x], y[x + step], y[x + 2 * step], y[x + 3 * step]),
            EveryFourth(cb + x / 2), EveryFourth(cr + x / 2)};
  }
}

// The R, G and B of four pixels, before the packs clamp them; false when a G lies on a multiple
// of 40000, and the four must go through the definition.
inline bool ConvertFour(const FourPixels& p, __m128i& red, __m128i& green, __m128i& blue) {
  // Y' in the low half of every lane, with Cr' or Cb' in the high half: the samples side by side,
  // then both offsets taken off in one 16-bit subtraction.
  const __m128i offsets = _mm_set1_epi32(FactorPair(64, 512));
  const __m128i lumaRed = _mm_sub_epi16(_mm_or_si128(p.y, _mm_slli_epi32(p.cr, 16)), offsets);
  const __m128i lumaBlue = _mm_sub_epi16(_mm_or_si128(p.y, _mm_slli_epi32(p.cb, 16)), offsets);
  const __m128i nGreen =
      _mm_add_epi32(_mm_madd_epi16(lumaBlue, _mm_set1_epi32(FactorPair(11644, -1874))),
                    _mm_madd_epi16(lumaRed, _mm_set1_epi32(FactorPair(0, -6505))));
  green = QuotientOf40000(nGreen);
  // q * 40000 == N, as q * 20000 doubled: q is far inside 16 bits.
  const __m128i multiple =
      _mm_cmpeq_epi32(_mm_slli_epi32(_mm_madd_epi16(green, _mm_set1_epi32(20000)), 1), nGreen);
  if (_mm_movemask_epi8(multiple) != 0) return false;
  red = QuotientOf40000(_mm_madd_epi16(lumaRed, _mm_set1_epi32(FactorPair(11644, 16787))));
  blue = QuotientOf40000(_mm_madd_epi16(lumaBlue, _mm_set1_epi32(FactorPair(11644, 21418))));
  return true;
}
#endif

// Shown columns k, k + 1, ... below `columns`, one pixel at a time: the definition itself.
void StorePlainColumns(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t k,
                       int32_t columns, int32_t shift, uint8_t* out) {
  for (; k < columns; ++k, out += 4) {
    const int32_t x = k << shift;
    PixelTriple rgb;
    ConvertV210Pixel(y[x], cb[x / 2], cr[x / 2], rgb);
    StorePixel(rgb, out);
  }
}

#if defined(ZELKORA_AVX2)
bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}
const bool kProcessorHasAvx2 = ProcessorHasAvx2();

// QuotientOf40000 for eight lanes.
ZELKORA_AVX2 inline __m256i QuotientOf40000Eight(__m256i n) {
  const __m256 m = _mm256_cvtepi32_ps(_mm256_srai_epi32(n, 6));
  return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(m, _mm256_set1_ps(1.0f / 625.0f)),
                                           _mm256_set1_ps(0.5f / 625.0f)));
}

// ConvertFour for eight pixels whose samples come one to a 32-bit lane: the same integers, the
// same single-precision quotients. Returns the lanes whose G lies on a multiple of 40000, all
// ones, for the caller to hand over to the definition.
ZELKORA_AVX2 inline __m256i ConvertEightLanes(__m256i y, __m256i cb, __m256i cr, __m256i& red,
                                              __m256i& green, __m256i& blue) {
  const __m256i offsets = _mm256_set1_epi32(FactorPair(64, 512));
  const __m256i lumaRed = _mm256_sub_epi16(_mm256_or_si256(y, _mm256_slli_epi32(cr, 16)), offsets);
  const __m256i lumaBlue = _mm256_sub_epi16(_mm256_or_si256(y, _mm256_slli_epi32(cb, 16)), offsets);
  const __m256i nGreen =
      _mm256_add_epi32(_mm256_madd_epi16(lumaBlue, _mm256_set1_epi32(FactorPair(11644, -1874))),
                       _mm256_madd_epi16(lumaRed, _mm256_set1_epi32(FactorPair(0, -6505))));
  green = QuotientOf40000Eight(nGreen);
  red =
      QuotientOf40000Eight(_mm256_madd_epi16(lumaRed, _mm256_set1_epi32(FactorPair(11644, 16787))));
  blue = QuotientOf40000Eight(
      _mm256_madd_epi16(lumaBlue, _mm256_set1_epi32(FactorPair(11644, 21418))));
  return _mm256_cmpeq_epi32(
      _mm256_slli_epi32(_mm256_madd_epi16(green, _mm256_set1_epi32(20000)), 1), nGreen);
}

// Eight pixels' R, G and B, one to a 32-bit lane, each clamped to 0..255 by the saturating packs,
// into the bitmap at `at`, each fourth byte written back as it was.
ZELKORA_AVX2 inline void StoreEightPixels(__m256i red, __m256i green, __m256i blue, uint8_t* at) {
  // The packs work within each 128-bit half: B0..B3 G0..G3 R0..R3 and four zeros for pixels 0 to
  // 3 in the low half, pixels 4 to 7 likewise in the high half; one byte shuffle makes them
  // pixels, their fourth bytes from the zeros.
  const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(blue, green),
                                            _mm256_packs_epi32(red, _mm256_setzero_si256()));
  const __m256i pixelOrder = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                              0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  const __m256i pixels = _mm256_shuffle_epi8(bytes, pixelOrder);
  __m256i* const pixel = reinterpret_cast<__m256i*>(at);
  const __m256i kept =
      _mm256_and_si256(_mm256_loadu_si256(pixel), _mm256_set1_epi32(int32_t(0xff000000u)));
  _mm256_storeu_si256(pixel, _mm256_or_si256(pixels, kept));
}

// At Original size the planes are not needed at all: a block of four groups (64 bytes) is 24
// pixels, three vectors of eight, and each vector's samples come straight from the eight words
// at 16 bytes per vector further on: one lane per pixel, a word picked for each and shifted by
// its own count.

// For vector v of a block, pixels 8v .. 8v + 7, read from word 4v on: each lane's word and shift
// for Y, Cb and Cr. Pixel p lies in group p / 6, four words a group, so its words are 4 (p / 6)
// - 4v up to three more: always 0 to 7.
struct LaneFields {
  int32_t words[3][8];
  int32_t shifts[3][8];
};
constexpr LaneFields MakeLaneFields(int32_t v) {
  LaneFields lanes = {};
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t p = 8 * v + i, firstWord = 4 * (p / 6) - 4 * v;
    const int32_t fields[3] = {kLumaFields[p % 6], kBlueFields[p % 6 / 2], kRedFields[p % 6 / 2]};
    for (int32_t plane = 0; plane < 3; ++plane) {
      lanes.words[plane][i] = firstWord + fields[plane] / 3;
      lanes.shifts[plane][i] = 10 * (fields[plane] % 3);
    }
  }
  return lanes;
}
alignas(32) constexpr LaneFields kBlockLanes[3] = {MakeLaneFields(0), MakeLaneFields(1),
                                                   MakeLaneFields(2)};

// Plane `plane` of the eight pixels whose words are `words`, as vector v of its block lays them.
ZELKORA_AVX2 inline __m256i LaneField(__m256i words, const LaneFields& lanes, int32_t plane) {
  const __m256i* const picks = reinterpret_cast<const __m256i*>(lanes.words[plane]);
  const __m256i* const shifts = reinterpret_cast<const __m256i*>(lanes.shifts[plane]);
  return _mm256_and_si256(
      _mm256_srlv_epi32(_mm256_permutevar8x32_epi32(words, _mm256_load_si256(picks)),
                        _mm256_load_si256(shifts)),
      _mm256_set1_epi32(kFieldMask));
}

// `blocks` blocks of four groups from `row` into 24 * blocks pixels from `out`. A block is
// stored before its G multiples are looked at, and stored again by the definition if it has one.
ZELKORA_AVX2 void StoreBlocks(const uint8_t* row, int32_t blocks, uint8_t* out) {
  for (int32_t b = 0; b < blocks; ++b, row += 64, out += 96) {
    __m256i multiples = _mm256_setzero_si256();
    for (int32_t v = 0; v < 3; ++v) {
      const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 16 * v));
      const LaneFields& lanes = kBlockLanes[v];
      __m256i red, green, blue;
      multiples = _mm256_or_si256(
          multiples, ConvertEightLanes(LaneField(words, lanes, 0), LaneField(words, lanes, 1),
                                       LaneField(words, lanes, 2), red, green, blue));
      StoreEightPixels(red, green, blue, out + 32 * v);
    }
    if (_mm256_movemask_epi8(multiples) != 0) {
      uint16_t y[24], cb[12], cr[12];
      UnpackV210Row(row, 4, y, cb, cr);
      StorePlainColumns(y, cb, cr, 0, 24, 0, out);
    }
  }
}
#endif

// Stores every 2^kShift-th column into consecutive pixels, four pixels to a vector store.
template <int kShift>
void StoreColumns(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t columns,
                  uint8_t* out) {
  int32_t k = 0;
#if defined(__SSE2__)
  // Four pixels at a time; every sample the gather reads lies below column columns << kShift,
  // inside the row.
  for (; k + 4 <= columns; k += 4, out += 16) {
    __m128i red, green, blue;
    if (!ConvertFour(GatherFour<kShift>(y, cb, cr, k), red, green, blue)) {
      StorePlainColumns(y, cb, cr, k, k + 4, kShift, out);
      continue;
    }
    StoreFourPixels(red, green, blue, out);
  }
#endif
  StorePlainColumns(y, cb, cr, k, columns, kShift, out);
}

}  // namespace

void StoreV210Row(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t columns,
                  int32_t scaleShift, uint8_t* bitmapRow) {
  switch (scaleShift) {
    case 0:
      return StoreColumns<0>(y, cb, cr, columns, bitmapRow);
    case 1:
      return StoreColumns<1>(y, cb, cr, columns, bitmapRow);
    case 2:
      return StoreColumns<2>(y, cb, cr, columns, bitmapRow);
    default:  // 3, the last display size
      return StoreColumns<3>(y, cb, cr, columns, bitmapRow);
  }
}

namespace {

// Sixteen groups, 96 pixels: a multiple of four shown columns at every shift, so only a row's
// last chunk leaves columns to the plain loop. A row's groups come in eights, so its last chunk
// has eight or sixteen.
constexpr int32_t kChunkGroups = 16;
constexpr int32_t kChunkPixels = kChunkGroups * 6;

}  // namespace

void DecodeV210Row(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                   uint8_t* bitmapRow) {
#if defined(ZELKORA_AVX2)
  // Whole blocks of 24 shown pixels straight from the words; the chunks below take the rest.
  if (scaleShift == 0 && kProcessorHasAvx2) {
    const int32_t blocks = columns / 24;
    StoreBlocks(row, blocks, bitmapRow);
    row += size_t(blocks) * 64;
    groups -= blocks * 4;
    columns -= blocks * 24;
    bitmapRow += size_t(blocks) * 24 * 4;
  }
#endif
  uint16_t y[kChunkPixels], cb[kChunkPixels / 2], cr[kChunkPixels / 2];
  const int32_t chunkColumns = kChunkPixels >> scaleShift;
  for (int32_t group = 0, column = 0; column < columns;
       group += kChunkGroups, column += chunkColumns, row += kChunkGroups * 16) {
    UnpackV210Row(row, std::min(groups - group, kChunkGroups), y, cb, cr);
    StoreV210Row(y, cb, cr, std::min(columns - column, chunkColumns), scaleShift,
                 bitmapRow + size_t(column) * 4);
  }
}

// Narrow-range black, Y 64 and Cb, Cr 512, as a group's four words in file byte order (zero
// bytes would decode to dark green).
constexpr MissingRowBytes MakeV210Black() {
  const uint32_t words[4] = {PackWord(512, 64, 512), PackWord(64, 512, 64), PackWord(512, 64, 512),
                             PackWord(64, 512, 64)};
  MissingRowBytes black{};
  for (int i = 0; i < 16; ++i) black.Bytes[i] = uint8_t(words[i >> 2] >> ((i & 3) * 8));
  return black;
}
const MissingRowBytes kV210BlackRowBytes = MakeV210Black();

int64_t MovFrameOffset(uint64_t dataOffset, uint32_t sampleSize, int32_t index) {
  if (index < 0) return -1;
  // Below 2^31 * 2^32: the product cannot wrap, and frame 50 of an 8K movie (4423680000 bytes
  // in) does not lose its upper bits.
  const uint64_t frameStart = uint64_t(index) * sampleSize;
  if (dataOffset > uint64_t(INT64_MAX) - frameStart) return -1;
  return int64_t(dataOffset + frameStart);
}
