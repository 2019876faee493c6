// Writers for the exported frame: the viewer's bitmap (bottom-up rows of B, G, R and a byte
// nobody reads) becomes an ordinary top-row-first RGB image.
#pragma once

#include <cstdint>

// What a writer needs of the bitmap: its size and its bottom-up pixel rows.
struct BitmapView {
  int32_t Width;
  int32_t Height;
  const uint8_t* Pixels;  // Height rows of Width * 4 bytes, the bottom row first
};

enum class ImageFormat { Ppm, Png, Unknown };

// From the file name's ending, letter case ignored: ".ppm" or ".png".
ImageFormat ImageFormatOf(const char* path);

// Binary P6, maximum value 255. 0 on success, -1 when the file cannot be written.
int32_t WritePpm(const char* path, const BitmapView& bitmap);

// 8-bit RGB PNG, uncompressed, the same bytes on every platform. 0 on success, -1 when the
// file cannot be written or the bitmap is empty.
int32_t WritePng(const char* path, const BitmapView& bitmap);
