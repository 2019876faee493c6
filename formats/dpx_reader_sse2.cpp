#include <emmintrin.h>

#include <utility>

#include "formats/dpx_row.h"

namespace {

// The codes of eight neighbouring pixels, pixel `at` and the next seven, one to a 16-bit lane of
// each channel. Most layouts put each pixel's own codes into lanes: that still saves the table
// look-ups and the byte stores, which cost more than finding the codes.
template <class Pixels>
struct EightPixelCodes {
  static void Get(const uint8_t* row, size_t at, __m128i& red, __m128i& green, __m128i& blue) {
    uint32_t c[8][3];
    for (size_t i = 0; i < 8; ++i) Pixels::Codes(row, at + i * Pixels::kUnit, c[i]);
    const auto lanes = [&c](int k) {
      return _mm_setr_epi16(short(c[0][k]), short(c[1][k]), short(c[2][k]), short(c[3][k]),
                            short(c[4][k]), short(c[5][k]), short(c[6][k]), short(c[7][k]));
    };
    red = lanes(0), green = lanes(1), blue = lanes(2);
  }
};

template <bool kLittleEndian>
inline __m128i InMachineOrder16(__m128i v) {
  return kLittleEndian ? v : SwapBytes16(v);
}

// 16-bit samples go into the lanes as they lie, and are turned into codes eight at once.
template <bool kLittleEndian, uint32_t kComponents>
struct EightPixelCodes<WholeBytePixels<Words16<kLittleEndian>, kComponents>> {
  static void Get(const uint8_t* row, size_t at, __m128i& red, __m128i& green, __m128i& blue) {
    const std::make_index_sequence<8> lanes;
    red = Codes(row + at, lanes), green = Codes(row + at + 2, lanes);
    blue = Codes(row + at + 4, lanes);
  }

  // Lane i from the sample at first + i pixels; a lane is chosen by a constant only.
  template <size_t... kLane>
  static __m128i Codes(const uint8_t* first, std::index_sequence<kLane...>) {
    __m128i words = _mm_setzero_si128();
    ((words = _mm_insert_epi16(words, LittleEndian16(first + kLane * 2 * kComponents), int(kLane))),
     ...);
    return _mm_srli_epi16(InMachineOrder16<kLittleEndian>(words), 6);
  }
};

// Four RGB words filled to 32 bits are one vector: every field is a shift and a mask.
template <bool kLittleEndian, uint32_t kFirstShift>
struct EightPixelCodes<Filled10RgbPixels<kLittleEndian, kFirstShift>> {
  static void Get(const uint8_t* row, size_t at, __m128i& red, __m128i& green, __m128i& blue) {
    const __m128i* const words = reinterpret_cast<const __m128i*>(row + at);
    const __m128i mask = _mm_set1_epi32(0x3FF);
    __m128i fields[2][3];
    for (int half = 0; half < 2; ++half) {
      __m128i w = _mm_loadu_si128(words + half);
      if (!kLittleEndian) w = SwapBytes32(w);
      fields[half][0] = _mm_and_si128(_mm_srli_epi32(w, kFirstShift), mask);
      fields[half][1] = _mm_and_si128(_mm_srli_epi32(w, kFirstShift - 10), mask);
      fields[half][2] = _mm_and_si128(_mm_srli_epi32(w, kFirstShift - 20), mask);
    }
    red = _mm_packs_epi32(fields[0][0], fields[1][0]);
    green = _mm_packs_epi32(fields[0][1], fields[1][1]);
    blue = _mm_packs_epi32(fields[0][2], fields[1][2]);
  }
};

}  // namespace

template <class Pixels>
void DpxRowSse2<Pixels>::Decode(const RowWalk& walk, uint8_t* destination) {
  if (walk.Step != 1 || walk.Mirrored) return DpxRow<Pixels>::Decode(walk, destination);
  const int32_t vectorColumns = walk.Columns & ~7;
  for (int32_t x = 0; x < vectorColumns; x += 8) {
    __m128i red, green, blue;
    EightPixelCodes<Pixels>::Get(walk.Rows[0], size_t(x) * Pixels::kUnit, red, green, blue);
    StoreEightCodes(red, green, blue, destination + size_t(x) * 4);
  }
  DpxRow<Pixels>::DecodeFrom(walk, destination, vectorColumns);
}

template int32_t DecodeDpxRows<false, DpxRowSse2>(const FrameRows&, SampleKind, uint32_t);
template int32_t DecodeDpxRows<true, DpxRowSse2>(const FrameRows&, SampleKind, uint32_t);
