// Planar frames: three headerless files per frame, NAME.4K.r / .g / .b (8K for 7680 x 4320),
// each rows top first of 16-bit big-endian words. A word holds a 12-bit sample in its low 12
// bits (the 10-bit code << 2). The top four bits are meaningless to the viewer, so some words
// carry junk there: a reader that forgets its mask shows it.
#pragma once

#include <cstdint>

#include "tools/testpattern/pattern.h"

constexpr uint32_t kPlanarBytesPerSample = 2;

// ".4K." or ".8K.": what stands between a frame's name and its plane letter.
inline const char* PlanarSizeTag(int32_t width) {
  return width > 3840 ? ".8K." : ".4K.";
}

// One row, y from the top, of plane 0, 1 or 2 (R, G or B): width * 2 bytes.
void PutPlanarRow(const Rgb10* pixels, int32_t width, int32_t y, int32_t plane, uint8_t* out);
