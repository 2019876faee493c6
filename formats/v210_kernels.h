// What the v210 row decoders share: the field layout of a group, the conversion's integer
// factors, and the plain pieces the vector decoders hand their edge cases to.
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
#pragma once

#include <cstdint>

#include "colour/colour.h"

constexpr uint32_t kV210FieldMask = 0x3ff;

// Field k (in the table's order, Cb0 Y0 Cr0 Y1 ...) lies in word k / 3 from bit 10 * (k % 3).
constexpr int32_t kV210LumaFields[6] = {1, 3, 5, 7, 9, 11};
constexpr int32_t kV210BlueFields[3] = {0, 4, 8};
constexpr int32_t kV210RedFields[3] = {2, 6, 10};

// The vector decoders convert in integers: N = Y' * luma + Cb' * ... in ten-thousandths, two
// 16-bit factors to a 32-bit lane (the first for the low half), and a byte is
// floor(N / 40000) clamped (docs/v210_integer_conversion.md proves it exact).
constexpr int32_t V210FactorPair(int32_t low, int32_t high) {
  return int32_t(uint32_t(low & 0xFFFF) | uint32_t(high & 0xFFFF) << 16);
}
constexpr int32_t kV210LumaFactor = YcbcrFactorUnits(kYcbcrLumaGain);
constexpr int32_t kV210Offsets = V210FactorPair(kYcbcrLumaOffset, kYcbcrChromaOffset);
constexpr int32_t kV210RedFactors =
    V210FactorPair(kV210LumaFactor, YcbcrFactorUnits(kYcbcrRedFromCr));
constexpr int32_t kV210GreenOfBlueFactors =
    V210FactorPair(kV210LumaFactor, -YcbcrFactorUnits(kYcbcrGreenFromCb));
constexpr int32_t kV210GreenOfRedFactors = V210FactorPair(0, -YcbcrFactorUnits(kYcbcrGreenFromCr));
constexpr int32_t kV210BlueFactors =
    V210FactorPair(kV210LumaFactor, YcbcrFactorUnits(kYcbcrBlueFromCb));
// 4 * kYcbcrFactorUnit = 40000 = 64 * 625: a shift by 6, then 1/625 in single precision.
static_assert(4 * kYcbcrFactorUnit == 64 * 625, "a byte is N / 40000");
constexpr float kV210InverseOf625 = 1.0f / 625.0f;
constexpr float kV210HalfOver625 = 0.5f / 625.0f;

// UnpackV210Row's planes of `groups` groups: 6 luma and 3 of each chroma sample a group.
void UnpackV210GroupsPlain(const uint8_t* row, int32_t groups, uint16_t* y, uint16_t* cb,
                           uint16_t* cr);
// Shown columns k up to `columns` of the planes, every 2^shift-th, pixel by pixel.
void StoreV210ColumnsPlain(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t k,
                           int32_t columns, int32_t shift, uint8_t* out);
