#include <emmintrin.h>

#include "formats/planar_row.h"

namespace {

// The codes of eight samples of a plane, as PlaneCode reads them, in 16-bit lanes.
inline __m128i EightPlaneCodes(const uint8_t* words) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
  return _mm_and_si128(_mm_srli_epi16(SwapBytes16(v), 2), _mm_set1_epi16(0x3FF));
}

struct PlanarRowSse2 {
  static void Decode(const RowWalk& walk, uint8_t* destination) {
    if (walk.Step != 1) return PlanarRow::Decode(walk, destination);
    const int32_t vectorColumns = walk.Columns & ~7;
    for (int32_t x = 0; x < vectorColumns; x += 8) {
      const size_t at = size_t(x) * kPlanarBytesPerSample;
      StoreEightCodes(EightPlaneCodes(walk.Rows[0] + at), EightPlaneCodes(walk.Rows[1] + at),
                      EightPlaneCodes(walk.Rows[2] + at), destination + size_t(x) * 4);
    }
    PlanarRow::DecodeFrom(walk, destination, vectorColumns);
  }
};

}  // namespace

int32_t DecodePlanarFrameSse2(const FrameRows& rows) {
  return DecodeFrame<PlanarRowSse2>(rows);
}
