#include "tools/testpattern/planar_file.h"

#include "tools/testpattern/bytes.h"

namespace {

// Junk for the top four bits: every third word of a row, never zero there.
uint16_t JunkBits(int32_t x, int32_t y) {
  if ((x + y) % 3 != 0) return 0;
  return uint16_t((((x >> 2) ^ y) & 0x7) | 0x8) << 12;
}

}  // namespace

void PutPlanarRow(const Rgb10* pixels, int32_t width, int32_t y, int32_t plane, uint8_t* out) {
  for (int32_t x = 0; x < width; ++x) {
    const uint16_t code = plane == 0 ? pixels[x].R : plane == 1 ? pixels[x].G : pixels[x].B;
    PutBigEndian16(out + size_t(x) * kPlanarBytesPerSample, uint16_t(JunkBits(x, y) | code << 2));
  }
}
