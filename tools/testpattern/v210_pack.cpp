#include "tools/testpattern/v210_pack.h"

#include <algorithm>
#include <cmath>

#include "formats/v210_row.h"
#include "tools/testpattern/bytes.h"

// With Kr + Kg + Kb = 1 the black offset of 64 carries over to Y unchanged, and the colour
// differences only need rescaling from the 876-step luma span to the 896-step chroma span.
YCbCr10 ToYCbCr(Rgb10 c) {
  constexpr double kr = 0.2627, kb = 0.0593, kg = 1.0 - kr - kb;
  const double y = kr * c.R + kg * c.G + kb * c.B;
  const double cb = 512.0 + (c.B - y) * (896.0 / 876.0) / (2.0 * (1.0 - kb));
  const double cr = 512.0 + (c.R - y) * (896.0 / 876.0) / (2.0 * (1.0 - kr));
  // v210 keeps 0..3 and 1020..1023 out of the picture: they are timing codes in SDI.
  auto code = [](double v) { return uint16_t(std::clamp(std::lround(v), 4L, 1019L)); };
  return {code(y), code(cb), code(cr)};
}

void PackV210Row(const YCbCr10* pixels, int32_t width, uint8_t* out) {
  const int32_t groups = GetV210RowGeometry(width).Groups;
  for (const YCbCr10* p = pixels; p < pixels + groups * 6; p += 6, out += 16) {
    const uint32_t words[4] = {
        uint32_t(p[0].Cb) | uint32_t(p[0].Y) << 10 | uint32_t(p[0].Cr) << 20,
        uint32_t(p[1].Y) | uint32_t(p[2].Cb) << 10 | uint32_t(p[2].Y) << 20,
        uint32_t(p[2].Cr) | uint32_t(p[3].Y) << 10 | uint32_t(p[4].Cb) << 20,
        uint32_t(p[4].Y) | uint32_t(p[4].Cr) << 10 | uint32_t(p[5].Y) << 20,
    };
    for (int i = 0; i < 4; ++i) PutLittleEndian32(out + i * 4, words[i]);
  }
}
