#include "tools/frame/image_writer.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef ZELKORA_HAVE_PNG
#include <png.h>
#endif

namespace {

bool EndsWithNoCase(const char* text, const char* ending) {
  const size_t n = std::strlen(text);
  const size_t m = std::strlen(ending);
  if (n < m) return false;
  for (size_t i = 0; i < m; ++i) {
    const int a = std::tolower(static_cast<unsigned char>(text[n - m + i]));
    if (a != ending[i]) return false;
  }
  return true;
}

// Picture row y (0 = top) of the bottom-up bitmap as R, G, B bytes.
void CopyRowAsRgb(const BitmapView& bitmap, int32_t y, uint8_t* rgb) {
  const uint8_t* src = bitmap.Pixels + size_t(bitmap.Height - 1 - y) * size_t(bitmap.Width) * 4;
  for (int32_t x = 0; x < bitmap.Width; ++x) {
    rgb[0] = src[2];
    rgb[1] = src[1];
    rgb[2] = src[0];
    rgb += 3;
    src += 4;
  }
}

}  // namespace

ImageFormat ImageFormatOf(const char* path) {
  if (EndsWithNoCase(path, ".ppm")) return ImageFormat::Ppm;
  if (EndsWithNoCase(path, ".png")) return ImageFormat::Png;
  return ImageFormat::Unknown;
}

int32_t WritePpm(const char* path, const BitmapView& bitmap) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return -1;
  std::fprintf(out, "P6\n%d %d\n255\n", int(bitmap.Width), int(bitmap.Height));
  std::vector<uint8_t> row(size_t(bitmap.Width) * 3);
  bool ok = true;
  for (int32_t y = 0; y < bitmap.Height && ok; ++y) {
    CopyRowAsRgb(bitmap, y, row.data());
    ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
  }
  // A full disk often shows only when the last buffer is flushed.
  if (std::fclose(out) != 0) ok = false;
  return ok ? 0 : -1;
}

#ifdef ZELKORA_HAVE_PNG

bool PngSupported() {
  return true;
}

int32_t WritePng(const char* path, const BitmapView& bitmap) {
  // libpng refuses a 0 x 0 image; an empty frame has nothing to export anyway.
  if (bitmap.Width <= 0 || bitmap.Height <= 0) return -1;
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return -1;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(size_t(bitmap.Width) * 3);
  bool ok = png != nullptr && info != nullptr;
  // libpng reports its errors by longjmp; nothing with a destructor is created below this.
  if (ok && setjmp(png_jmpbuf(png)) != 0) ok = false;
  if (ok) {
    png_init_io(png, out);
    // The export is for comparing pixels, not for size: the fastest compression keeps an 8K
    // frame from taking seconds.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(bitmap.Width), png_uint_32(bitmap.Height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < bitmap.Height; ++y) {
      CopyRowAsRgb(bitmap, y, row.data());
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(&png, &info);
  if (std::fclose(out) != 0) ok = false;
  return ok ? 0 : -1;
}

#else

bool PngSupported() {
  return false;
}

int32_t WritePng(const char*, const BitmapView&) {
  return -1;
}

#endif
