#include "tools/frame/image_writer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

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

// PNG: signature, IHDR, the pixels as one zlib stream split over IDAT chunks, IEND. The stream
// holds stored (uncompressed) deflate blocks: the export is for comparing pixels, not for size,
// and needs no library, so the Linux and the Windows tool write the same bytes.
//
//   chunk        length (4, big-endian), type (4), data, CRC-32 of type and data (4)
//   IHDR         width, height (4 each), bit depth 8, colour type 2 (RGB), 0, 0, 0 (no interlace)
//   zlib stream  0x78 0x01, deflate blocks, Adler-32 of the raw bytes (4, big-endian)
//   stored block final flag (1 byte: 1 last, 0 not), length n and its complement (2 each,
//                little-endian), n raw bytes; up to 65535 of them
//   raw bytes    each row: filter type 0 (none), then R, G, B of every pixel

namespace {

constexpr size_t kStoredBlockBytes = 65535;

uint32_t Crc32(uint32_t crc, const uint8_t* bytes, size_t n) {
  // The table of the reflected polynomial 0xEDB88320, made once.
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBig32(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v >> 24), at[1] = uint8_t(v >> 16), at[2] = uint8_t(v >> 8), at[3] = uint8_t(v);
}

class PngOut {
 public:
  explicit PngOut(std::FILE* out) : File(out) {}

  void Chunk(const char* type, const uint8_t* data, size_t n) {
    uint8_t head[8];
    PutBig32(head, uint32_t(n));
    std::memcpy(head + 4, type, 4);
    uint8_t crc[4];
    PutBig32(crc, Crc32(Crc32(0, head + 4, 4), data, n));
    Write(head, 8);
    Write(data, n);
    Write(crc, 4);
  }

  // Raw bytes into the stream; a full block goes out as one IDAT chunk.
  void Raw(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      // Adler-32, its sums kept below the modulus a byte at a time.
      AdlerA += bytes[i];
      if (AdlerA >= 65521) AdlerA -= 65521;
      AdlerB += AdlerA;
      if (AdlerB >= 65521) AdlerB -= 65521;
    }
    while (n > 0) {
      const size_t take = std::min(n, kStoredBlockBytes - Used);
      std::memcpy(BlockBytes.data() + 5 + Used, bytes, take);
      Used += take, bytes += take, n -= take;
      if (Used == kStoredBlockBytes) Block(false);
    }
  }

  void Finish() {
    Block(true);
    uint8_t adler[4];
    PutBig32(adler, AdlerB << 16 | AdlerA);
    Chunk("IDAT", adler, 4);
    Chunk("IEND", nullptr, 0);
  }

  bool Ok() const { return AllWritten; }

 private:
  void Block(bool last) {
    BlockBytes[0] = last ? 1 : 0;
    BlockBytes[1] = uint8_t(Used), BlockBytes[2] = uint8_t(Used >> 8);
    BlockBytes[3] = uint8_t(~Used), BlockBytes[4] = uint8_t(~Used >> 8);
    Chunk("IDAT", BlockBytes.data(), 5 + Used);
    Used = 0;
  }
  void Write(const uint8_t* data, size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, File) != n) AllWritten = false;
  }

  std::FILE* File;
  std::vector<uint8_t> BlockBytes = std::vector<uint8_t>(5 + kStoredBlockBytes);
  size_t Used = 0;
  uint32_t AdlerA = 1, AdlerB = 0;
  bool AllWritten = true;
};

}  // namespace

int32_t WritePng(const char* path, const BitmapView& bitmap) {
  // A PNG has no 0 x 0 image; an empty frame has nothing to export anyway.
  if (bitmap.Width <= 0 || bitmap.Height <= 0) return -1;
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return -1;
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PngOut png(out);
  if (std::fwrite(kSignature, 1, 8, out) != 8) return std::fclose(out), -1;
  uint8_t header[13] = {};
  PutBig32(header, uint32_t(bitmap.Width));
  PutBig32(header + 4, uint32_t(bitmap.Height));
  header[8] = 8;  // bits a sample
  header[9] = 2;  // RGB
  png.Chunk("IHDR", header, sizeof header);
  static const uint8_t kZlibHeader[2] = {0x78, 0x01};  // deflate, 32K window, no dictionary
  png.Chunk("IDAT", kZlibHeader, 2);
  std::vector<uint8_t> row(1 + size_t(bitmap.Width) * 3);  // filter type 0, then the pixels
  for (int32_t y = 0; y < bitmap.Height; ++y) {
    CopyRowAsRgb(bitmap, y, row.data() + 1);
    png.Raw(row.data(), row.size());
  }
  png.Finish();
  // A full disk often shows only when the last buffer is flushed.
  const bool closed = std::fclose(out) == 0;
  return png.Ok() && closed ? 0 : -1;
}
