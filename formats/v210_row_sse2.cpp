// The SSE2 v210 row decoder: a few groups at a time unpacked into planes that stay in the
// first-level cache, then four shown pixels a vector converted in integers.

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/row_walk.h"
#include "formats/v210_kernels.h"
#include "formats/v210_row.h"

namespace {

// Lanes 0 and 1 from a, then lanes 2 and 3 from b, each chosen by kLanes as _MM_SHUFFLE has it.
template <int kLanes>
__m128i PickLanes(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), kLanes));
}

// Four groups: word k of each gathered into one vector, so a field is one shift and mask for all
// four; two neighbouring samples of a plane then share a 32-bit lane, low half first, and
// whole-lane shuffles put the lanes in plane order.
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

void UnpackGroups(const uint8_t* row, int32_t groups, uint16_t* y, uint16_t* cb, uint16_t* cr) {
  int32_t g = 0;
  for (; g + 4 <= groups; g += 4, row += 64, y += 24, cb += 12, cr += 12) {
    UnpackFourGroups(row, y, cb, cr);
  }
  UnpackV210GroupsPlain(row, groups - g, y, cb, cr);
}

inline __m128i QuotientOf40000(__m128i n) {
  const __m128 m = _mm_cvtepi32_ps(_mm_srai_epi32(n, 6));
  return _mm_cvttps_epi32(
      _mm_add_ps(_mm_mul_ps(m, _mm_set1_ps(kV210InverseOf625)), _mm_set1_ps(kV210HalfOver625)));
}

// The samples of four shown pixels as 32-bit lanes.
struct FourPixels {
  __m128i Y, Cb, Cr;
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

// Pixels k .. k + 3, shown columns x = k << kShift on, chroma index x / 2; reads no sample at or
// past column (k + 4) << kShift.
template <int kShift>
FourPixels GatherFour(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t k) {
  const __m128i zero = _mm_setzero_si128();
  if (kShift == 0) {
    const auto pairs = [&](const uint16_t* plane) {  // chroma k / 2 and k / 2 + 1, twice each
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
// of 40000, where only the definition's doubles know the byte.
inline bool ConvertFour(const FourPixels& p, __m128i& red, __m128i& green, __m128i& blue) {
  // Y' beside Cr' or Cb' in one lane, both offsets taken off in one 16-bit subtraction.
  const __m128i offsets = _mm_set1_epi32(kV210Offsets);
  const __m128i lumaRed = _mm_sub_epi16(_mm_or_si128(p.Y, _mm_slli_epi32(p.Cr, 16)), offsets);
  const __m128i lumaBlue = _mm_sub_epi16(_mm_or_si128(p.Y, _mm_slli_epi32(p.Cb, 16)), offsets);
  const __m128i nGreen =
      _mm_add_epi32(_mm_madd_epi16(lumaBlue, _mm_set1_epi32(kV210GreenOfBlueFactors)),
                    _mm_madd_epi16(lumaRed, _mm_set1_epi32(kV210GreenOfRedFactors)));
  green = QuotientOf40000(nGreen);
  // q * 40000 == N, as q * 20000 doubled: q is far inside 16 bits.
  const __m128i multiple = _mm_cmpeq_epi32(
      _mm_slli_epi32(_mm_madd_epi16(green, _mm_set1_epi32(2 * kYcbcrFactorUnit)), 1), nGreen);
  if (_mm_movemask_epi8(multiple) != 0) return false;
  red = QuotientOf40000(_mm_madd_epi16(lumaRed, _mm_set1_epi32(kV210RedFactors)));
  blue = QuotientOf40000(_mm_madd_epi16(lumaBlue, _mm_set1_epi32(kV210BlueFactors)));
  return true;
}

template <int kShift>
void StoreColumns(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t columns,
                  uint8_t* out) {
  int32_t k = 0;
  for (; k + 4 <= columns; k += 4, out += 16) {
    __m128i red, green, blue;
    if (!ConvertFour(GatherFour<kShift>(y, cb, cr, k), red, green, blue)) {
      StoreV210ColumnsPlain(y, cb, cr, k, k + 4, kShift, out);
      continue;
    }
    StoreFourPixels(red, green, blue, out);
  }
  StoreV210ColumnsPlain(y, cb, cr, k, columns, kShift, out);
}

// Sixteen groups, 96 pixels: a multiple of four shown columns at every shift, so only a row's
// last chunk leaves columns to the plain loop. Rows come in eights of groups.
constexpr int32_t kChunkGroups = 16;
constexpr int32_t kChunkPixels = kChunkGroups * 6;

}  // namespace

void DecodeV210RowSse2(const uint8_t* row, int32_t groups, int32_t columns, int32_t scaleShift,
                       uint8_t* bitmapRow) {
  uint16_t y[kChunkPixels], cb[kChunkPixels / 2], cr[kChunkPixels / 2];
  const int32_t chunkColumns = kChunkPixels >> scaleShift;
  for (int32_t group = 0, column = 0; column < columns;
       group += kChunkGroups, column += chunkColumns, row += kChunkGroups * 16) {
    UnpackGroups(row, std::min(groups - group, kChunkGroups), y, cb, cr);
    const int32_t shown = std::min(columns - column, chunkColumns);
    uint8_t* const out = bitmapRow + size_t(column) * 4;
    switch (scaleShift) {
      case 0:
        StoreColumns<0>(y, cb, cr, shown, out);
        break;
      case 1:
        StoreColumns<1>(y, cb, cr, shown, out);
        break;
      case 2:
        StoreColumns<2>(y, cb, cr, shown, out);
        break;
      default:  // 3, the last display size
        StoreColumns<3>(y, cb, cr, shown, out);
    }
  }
}
