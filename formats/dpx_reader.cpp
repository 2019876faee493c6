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

#include <cstddef>
#include <cstring>

#include "colour/colour.h"
#include "core/viewer_state.h"
#include "formats/row_walk.h"
#include "platform/file.h"

namespace {

constexpr uint32_t kDpxMagic = 0x53445058;  // "SDPX"
constexpr int64_t kSizeFieldsOffset = 772;  // pixels per line, then lines per image element
constexpr uint32_t kBytesPerPixel = 6;

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The narrow-range code of a sample: its top 10 bits, high byte * 4 + (low byte >> 6). One
// 16-bit load and a byte swap: a third faster than assembling the index from two byte loads.
inline uint32_t SampleCode(const uint8_t* sample) {
  uint16_t bigEndian;
  std::memcpy(&bigEndian, sample, 2);
  return uint32_t(__builtin_bswap16(bigEndian)) >> 6;
}

// One shown row: every Step-th pixel of the ReadBuffer row into consecutive bitmap pixels, through
// the colour options stage built for the frame's flags (nothing at all when both are off).
template <bool kHdrToSdr, bool kBt709>
void DecodeDpxRow(const uint8_t* source, uint8_t* destination, int32_t columns, size_t sourceStep) {
  const int32_t* narrowToFull = NarrowToFullTable;
  for (int32_t x = 0; x < columns; ++x) {
    PixelTriple triple{narrowToFull[SampleCode(source)], narrowToFull[SampleCode(source + 2)],
                       narrowToFull[SampleCode(source + 4)]};
    ApplyFixedColourOptions<kHdrToSdr, kBt709>(triple);
    // B and G in one little-endian 16-bit store, R in a third byte, byte 3 left alone: the
    // bitmap stores are half of what decoding adds to the reads, and this saves one in three.
    const uint16_t blueGreen = uint16_t(triple.B | triple.G << 8);
    std::memcpy(destination, &blueGreen, 2);
    destination[2] = uint8_t(triple.R);
    destination += 4;
    source += sourceStep;
  }
}

using DecodeDpxRowFunction = void (*)(const uint8_t*, uint8_t*, int32_t, size_t);
// By HDR-to-SDR flag, then BT.709 flag.
constexpr DecodeDpxRowFunction kDecodeDpxRow[2][2] = {
    {DecodeDpxRow<false, false>, DecodeDpxRow<false, true>},
    {DecodeDpxRow<true, false>, DecodeDpxRow<true, true>},
};

int32_t ReadOpenDpx(PlatformFile file) {
  uint8_t field[8];
  // Magic and offset to image data; a file too short for them is too short for the size too.
  if (PlatformReadFile(file, field, 8) < 8 || BigEndian32(field) != kDpxMagic) return -1;
  const uint32_t imageOffset = BigEndian32(field + 4);
  if (PlatformSeekFile(file, kSizeFieldsOffset, SeekFromStart) != kSizeFieldsOffset ||
      PlatformReadFile(file, field, 8) < 8) {
    return -1;
  }
  const uint32_t width = BigEndian32(field);
  const uint32_t height = BigEndian32(field + 4);

  // The size handshake: another size is recorded, not decoded; the caller rebuilds the bitmap
  // and loads again. The limits keep a row inside the ReadBuffer.
  if (width != uint32_t(Viewer.SourceWidth) || height != uint32_t(Viewer.SourceHeight)) {
    if (width > uint32_t(kMaxSourceWidth) || height > uint32_t(kMaxSourceHeight)) return -1;
    Viewer.SourceWidth = int32_t(width);
    Viewer.SourceHeight = int32_t(height);
    return 0;
  }

  RowWalk walk;
  if (!BeginRowWalk(walk, &file, 1, kBytesPerPixel)) return -1;
  // An offset past the end of the file is not refused: every row then reads as black.
  PlatformSeekFile(file, imageOffset, SeekFromStart);
  const size_t sourceStep = size_t(walk.Step) * kBytesPerPixel;
  // Nothing can toggle an option while a frame decodes, so one look serves the whole frame.
  const DecodeDpxRowFunction decodeRow =
      kDecodeDpxRow[Viewer.HdrToSdr != 0 ? 1 : 0][Viewer.Bt709 != 0 ? 1 : 0];
  while (uint8_t* destination = ReadNextShownRow(walk)) {
    decodeRow(Viewer.ReadBuffer, destination, walk.Columns, sourceStep);
  }
  return 0;
}

}  // namespace

int32_t ReadDpxFrame() {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  const int32_t result = ReadOpenDpx(file);
  PlatformCloseFile(file);
  return result;
}
