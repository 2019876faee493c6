// v210 rows: the plain decoder, the definition every vector decoder is held to, and the choice of
// decoder.

#include "formats/v210_row.h"

#include <cstdint>

#include "formats/byte_order.h"
#include "formats/row_walk.h"
#include "formats/v210_kernels.h"

namespace {

// A 10-bit-scale value to a byte: truncated toward zero, two bits dropped with the sign kept,
// clamped; every negative value clamps to 0 whichever way it rounds.
int32_t TenBitScaleToByte(double v) {
  const int32_t scaled = int32_t(v) >> 2;
  return scaled < 0 ? 0 : (scaled > 255 ? 255 : scaled);
}

uint16_t Field(const uint8_t* group, int32_t k) {
  return uint16_t(LittleEndian32(group + 4 * (k / 3)) >> (10 * (k % 3)) & kV210FieldMask);
}

constexpr uint32_t PackWord(uint32_t low, uint32_t middle, uint32_t high) {
  return low | middle << 10 | high << 20;
}

}  // namespace

void ConvertV210Pixel(int32_t y, int32_t cb, int32_t cr, PixelTriple& rgb) {
  const double luma = double(y - kYcbcrLumaOffset) * kYcbcrLumaGain;
  const double blueDiff = cb - double(kYcbcrChromaOffset);
  const double redDiff = cr - double(kYcbcrChromaOffset);
  rgb.R = TenBitScaleToByte(luma + kYcbcrRedFromCr * redDiff);
  rgb.G = TenBitScaleToByte((luma - kYcbcrGreenFromCb * blueDiff) - kYcbcrGreenFromCr * redDiff);
  rgb.B = TenBitScaleToByte(luma + kYcbcrBlueFromCb * blueDiff);
}

void UnpackV210GroupsPlain(const uint8_t* row, int32_t groups, uint16_t* y, uint16_t* cb,
                           uint16_t* cr) {
  for (int32_t g = 0; g < groups; ++g, row += 16, y += 6, cb += 3, cr += 3) {
    for (int32_t q = 0; q < 6; ++q) y[q] = Field(row, kV210LumaFields[q]);
    for (int32_t c = 0; c < 3; ++c) {
      cb[c] = Field(row, kV210BlueFields[c]);
      cr[c] = Field(row, kV210RedFields[c]);
    }
  }
}

void StoreV210ColumnsPlain(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t k,
                           int32_t columns, int32_t shift, uint8_t* out) {
  for (; k < columns; ++k, out += 4) {
    const int32_t x = k << shift;
    PixelTriple rgb;
    ConvertV210Pixel(y[x], cb[x / 2], cr[x / 2], rgb);
    StorePixel(rgb, out);
  }
}

void DecodeV210RowPlain(const uint8_t* row, int32_t, int32_t columns, int32_t scaleShift,
                        uint8_t* bitmapRow) {
  for (int32_t k = 0; k < columns; ++k, bitmapRow += 4) {
    const int32_t x = k << scaleShift, pixel = x % 6;
    const uint8_t* const group = row + size_t(x / 6) * 16;
    PixelTriple rgb;
    ConvertV210Pixel(Field(group, kV210LumaFields[pixel]), Field(group, kV210BlueFields[pixel / 2]),
                     Field(group, kV210RedFields[pixel / 2]), rgb);
    StorePixel(rgb, bitmapRow);
  }
}

// Narrow-range black as a group's four words in file byte order (zero bytes are dark green).
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
  // Below 2^31 * 2^32: the product cannot wrap, and an 8K movie's frame 50 keeps its upper bits.
  const uint64_t frameStart = uint64_t(index) * sampleSize;
  if (dataOffset > uint64_t(INT64_MAX) - frameStart) return -1;
  return int64_t(dataOffset + frameStart);
}
