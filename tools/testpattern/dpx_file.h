// DPX frames as the viewer reads them: "SDPX", the offset to the image data at byte 4, width at
// 772, height at 776; then rows top first of 16-bit big-endian R, G, B samples holding the
// 10-bit code in their top bits (code << 6), no padding.
#pragma once

#include <cstdint>
#include <string>

#include "tools/testpattern/bytes.h"
#include "tools/testpattern/pattern.h"

constexpr uint32_t kDpxImageOffset = 2048;
constexpr uint32_t kDpxBytesPerPixel = 6;

// Only what the viewer looks at, the rest zero: max(imageOffset, 780) bytes.
Bytes DpxMinimalHeader(uint32_t width, uint32_t height, uint32_t imageOffset = kDpxImageOffset);

// A header other tools accept too, kDpxImageOffset bytes: one element of 16-bit RGB, unpacked,
// narrow-range reference codes, 24 frames a second, frame `position` (from 1) of `frames`.
Bytes DpxHeader(uint32_t width, uint32_t height, const std::string& fileName = "",
                uint32_t position = 1, uint32_t frames = 1);

// One row of `width` pixels: width * kDpxBytesPerPixel bytes.
void PutDpxRow(const Rgb10* pixels, int32_t width, uint8_t* out);
