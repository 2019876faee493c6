// What the v210 row decoders share: a group's fields (docs/v210.md), the conversion's integer
// factors, and the plain pieces the vector decoders hand their edge cases to.
#pragma once

#include <cstdint>

#include "colour/colour.h"

constexpr uint32_t kV210FieldMask = 0x3ff;

// Field k, counted Cb0 Y0 Cr0 Y1 ..., lies in word k / 3 from bit 10 * (k % 3).
constexpr int32_t kV210LumaFields[6] = {1, 3, 5, 7, 9, 11};
constexpr int32_t kV210BlueFields[3] = {0, 4, 8};
constexpr int32_t kV210RedFields[3] = {2, 6, 10};

// The vector decoders' factors in ten-thousandths, two 16-bit ones to a 32-bit lane (the first in
// the low half); a byte is floor(N / 40000) clamped, which docs/v210.md proves exact.
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
static_assert(4 * kYcbcrFactorUnit == 64 * 625, "N / 40000 is a shift by 6, then 1/625");
constexpr float kV210InverseOf625 = 1.0f / 625.0f;
constexpr float kV210HalfOver625 = 0.5f / 625.0f;

// The planes of `groups` groups: 6 luma and 3 of each chroma sample a group.
void UnpackV210GroupsPlain(const uint8_t* row, int32_t groups, uint16_t* y, uint16_t* cb,
                           uint16_t* cr);
// Shown columns k up to `columns` of the planes, every 2^shift-th, pixel by pixel.
void StoreV210ColumnsPlain(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t k,
                           int32_t columns, int32_t shift, uint8_t* out);
