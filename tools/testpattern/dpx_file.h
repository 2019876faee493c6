// DPX frames as the viewer reads them: "SDPX", the offset to the image data at byte 4, width at
// 772, height at 776; then rows top first of 16-bit big-endian R, G, B samples holding the
// 10-bit code in their top bits (code << 6), no padding.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/testpattern/bytes.h"
#include "tools/testpattern/pattern.h"
#include "tools/testpattern/row_file.h"

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

// The other layouts DPX writers use, as they lay them out (see formats/dpx_reader.cpp).
struct DpxFileLayout {
  uint8_t Descriptor = 50;  // 50 RGB, 51 RGBA
  uint8_t Bits = 16;        // 8, 10, 12 or 16
  uint16_t Packing = 0;     // 0 packed, 1 filled method A, 2 filled method B
  bool LittleEndian = false;
  uint16_t Orientation = 0;  // 1 right to left, 2 bottom to top, 3 both
  uint32_t Padding = 0;      // end-of-line padding, in the header and after every row
  bool WordPadded = false;   // rows padded to 32 bits while the header says none (ffmpeg)
};

// Picture row y (0 = top) into row[0 .. width).
using PictureRows = std::function<void(int32_t y, Rgb10* row)>;

// A whole file in the layout: DpxHeader's fields in its byte order, then the picture. Samples
// hold the code in their top bits and repeat its top bits below (code 1023 is all ones); alpha
// is the code of R inverted.
RowFile DpxLayoutFile(const DpxFileLayout& layout, int32_t width, int32_t height,
                      const PictureRows& picture);
