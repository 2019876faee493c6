// Planar R/G/B frames: three headerless files per frame, one per colour plane, whose names
// differ only in the last letter. The picture size is nowhere in the files, only in the name:
//
//   name    ...4K.r   ...4K.g   ...4K.b
//              ^^ ^
//              || plane letter, the last character: always written as lower-case r, g, b
//              |"K", upper case only, third from the end
//              size, fourth from the end: "4" 3840 x 2160, "8" 7680 x 4320, anything else the
//              current source size
//
//   plane   from byte 0: H rows, the top of the picture first, W words per row, no padding
//   word    16 bits big-endian [hi lo]; the sample is the low 12 bits (the top four are
//           ignored), and its upper 10 bits are the narrow-range code:
//           code = (word >> 2) & 0x3FF = (hi & 0x0F) * 64 + (lo >> 2)
#include "formats/rgb_planes_reader.h"

#include "formats/row_walk.h"

namespace {

constexpr int32_t kPlaneCount = 3;
constexpr char kPlaneLetters[kPlaneCount] = {'r', 'g', 'b'};  // the open and read order
const char* const kPlaneColours[kPlaneCount] = {"red", "green", "blue"};
constexpr uint32_t kBytesPerSample = 2;

struct NamedSize {
  char character;
  int32_t width;
  int32_t height;
};
constexpr NamedSize kNamedSizes[] = {{'4', 3840, 2160}, {'8', 7680, 4320}};

// One 16-bit load and a byte swap, as in the DPX reader: cheaper than two byte loads.
inline uint32_t PlaneCode(const uint8_t* word) {
  uint16_t bigEndian;
  std::memcpy(&bigEndian, word, 2);
  return (uint32_t(__builtin_bswap16(bigEndian)) >> 2) & 0x3FF;
}

#if defined(__SSE2__)
// The codes of eight samples of a plane, as PlaneCode reads them, in 16-bit lanes.
inline __m128i EightPlaneCodes(const uint8_t* words) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
  const __m128i swapped = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
  return _mm_and_si128(_mm_srli_epi16(swapped, 2), _mm_set1_epi16(0x3FF));
}
#endif

// One shown row: every Step-th sample of the three plane rows into consecutive bitmap pixels.
struct PlanarRow {
  static void Decode(const RowWalk& walk, uint8_t* destination) {
    const int32_t* narrowToFull = NarrowToFullTable;
    const uint8_t* red = walk.Rows[0];
    const uint8_t* green = walk.Rows[1];
    const uint8_t* blue = walk.Rows[2];
    const size_t step = size_t(walk.Step) * kBytesPerSample;
    int32_t x = 0;
#if defined(__SSE2__)
    if (walk.Step == 1) {
      for (; x + 8 <= walk.Columns; x += 8, red += 16, green += 16, blue += 16) {
        StoreEightCodes(EightPlaneCodes(red), EightPlaneCodes(green), EightPlaneCodes(blue),
                        destination);
        destination += 32;
      }
    }
#endif
    for (; x < walk.Columns; ++x, red += step, green += step, blue += step) {
      StorePixel({narrowToFull[PlaneCode(red)], narrowToFull[PlaneCode(green)],
                  narrowToFull[PlaneCode(blue)]},
                 destination);
      destination += 4;
    }
  }
};

}  // namespace

int32_t ReadRgbPlanesFrame() {
  char* const path = Viewer.Path;
  const size_t length = strnlen(path, sizeof Viewer.Path);
  if (length < 4 || path[length - 3] != 'K') return SetReason(kReasonPlanarNoSize, path), -1;

  // The size handshake, from the name alone: no file is opened for a size change, so missing
  // planes only show on the second call.
  const char sizeCharacter = path[length - 4];
  for (const NamedSize& named : kNamedSizes) {
    if (sizeCharacter == named.character &&
        (Viewer.SourceWidth != named.width || Viewer.SourceHeight != named.height)) {
      Viewer.SourceWidth = named.width;
      Viewer.SourceHeight = named.height;
      return 0;
    }
  }

  // Whichever plane the list names, all three are read: R from "r", G from "g", B from "b".
  // The path names the last plane tried, as the status bar shows it.
  FrameRows rows = {};
  for (int32_t k = 0; k < kPlaneCount; ++k) {
    path[length - 1] = kPlaneLetters[k];
    rows.Files[k] = PlatformOpenFile(path);
    if (rows.Files[k] == nullptr) {
      SetReason(kReasonPlaneMissing, path, kPlaneColours[k]);
      while (k-- > 0) PlatformCloseFile(rows.Files[k]);  // most recent first
      return -1;
    }
  }
  // The three planes in step: a request for each plane's part of every chunk of rows.
  rows.FileCount = kPlaneCount;
  rows.RowBytes = uint32_t(Viewer.SourceWidth) * kBytesPerSample;
  rows.Missing = &kZeroRowBytes;
  const int32_t result = DecodeFrame<PlanarRow>(rows);
  for (PlatformFile plane : rows.Files) PlatformCloseFile(plane);
  return result;
}
