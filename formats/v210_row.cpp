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

#include "formats/v210_row.h"

#include <cstdint>

#include "colour/colour.h"

namespace {

constexpr uint32_t kFieldMask = 0x3ff;

uint32_t LittleEndian32(const uint8_t* b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// A 10-bit-scale result to a byte: truncate toward zero, drop two bits, clamp. The shift keeps
// the sign, and every negative value clamps to 0 whichever way it rounds.
int32_t ToByte(double v) {
  const int32_t scaled = int32_t(v) >> 2;
  return scaled < 0 ? 0 : (scaled > 255 ? 255 : scaled);
}

constexpr uint32_t PackWord(uint32_t low, uint32_t middle, uint32_t high) {
  return low | middle << 10 | high << 20;
}

// Narrow-range black: Y 64, Cb and Cr 512 (zero bytes would decode to dark green).
constexpr uint32_t kBlackWords[4] = {PackWord(512, 64, 512), PackWord(64, 512, 64),
                                     PackWord(512, 64, 512), PackWord(64, 512, 64)};

}  // namespace

void UnpackV210Row(const uint8_t* row, const V210RowGeometry& geometry, uint16_t* y, uint16_t* cb,
                   uint16_t* cr) {
  for (int32_t g = 0; g < geometry.groups; ++g, row += 16, y += 6, cb += 3, cr += 3) {
    const uint32_t w0 = LittleEndian32(row);
    const uint32_t w1 = LittleEndian32(row + 4);
    const uint32_t w2 = LittleEndian32(row + 8);
    const uint32_t w3 = LittleEndian32(row + 12);
    cb[0] = uint16_t(w0 & kFieldMask);
    y[0] = uint16_t(w0 >> 10 & kFieldMask);
    cr[0] = uint16_t(w0 >> 20 & kFieldMask);
    y[1] = uint16_t(w1 & kFieldMask);
    cb[1] = uint16_t(w1 >> 10 & kFieldMask);
    y[2] = uint16_t(w1 >> 20 & kFieldMask);
    cr[1] = uint16_t(w2 & kFieldMask);
    y[3] = uint16_t(w2 >> 10 & kFieldMask);
    cb[2] = uint16_t(w2 >> 20 & kFieldMask);
    y[4] = uint16_t(w3 & kFieldMask);
    cr[2] = uint16_t(w3 >> 10 & kFieldMask);
    y[5] = uint16_t(w3 >> 20 & kFieldMask);
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

void StoreV210Row(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int32_t width,
                  int32_t scaleShift, uint8_t* bitmapRow) {
  const int32_t step = int32_t(1) << scaleShift;
  for (int32_t x = 0; x < width; x += step, bitmapRow += 4) {
    PixelTriple rgb;
    ConvertV210Pixel(y[x], cb[x / 2], cr[x / 2], rgb);
    ApplyColourOptions(rgb);
    bitmapRow[0] = uint8_t(rgb.B);
    bitmapRow[1] = uint8_t(rgb.G);
    bitmapRow[2] = uint8_t(rgb.R);
  }
}

void FillV210Black(uint8_t* row, uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; ++i) {
    row[i] = uint8_t(kBlackWords[(i >> 2) & 3] >> ((i & 3) * 8));
  }
}

int64_t MovFrameOffset(uint64_t dataOffset, uint32_t sampleSize, int32_t index) {
  if (index < 0) return -1;
  // Below 2^31 * 2^32: the product cannot wrap, and frame 50 of an 8K movie (4423680000 bytes
  // in) does not lose its upper bits.
  const uint64_t frameStart = uint64_t(index) * sampleSize;
  if (dataOffset > uint64_t(INT64_MAX) - frameStart) return -1;
  return int64_t(dataOffset + frameStart);
}
