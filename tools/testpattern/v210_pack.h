// v210 rows as the movie reader meets them: GetV210RowGeometry(width).Stride bytes, groups of
// four little-endian words carrying six pixels:
//   word 0 = Cb0 | Y0 << 10 | Cr0 << 20     word 1 = Y1 | Cb1 << 10 | Y2 << 20
//   word 2 = Cr1 | Y3 << 10 | Cb2 << 20     word 3 = Y4 | Cr2 << 10 | Y5 << 20
#pragma once

#include <cstdint>

#include "tools/testpattern/pattern.h"

struct YCbCr10 {
  uint16_t Y;
  uint16_t Cb;
  uint16_t Cr;
};

// BT.2020 non-constant luminance, narrow range, codes kept within 4..1019.
YCbCr10 ToYCbCr(Rgb10 c);

// One row from GetV210RowGeometry(width).LumaSamples pixels: those past `width` fill the last
// group. Chroma comes from the even pixel of each pair (co-sited), not averaged, so the even
// columns come back exactly.
void PackV210Row(const YCbCr10* pixels, int32_t width, uint8_t* out);
