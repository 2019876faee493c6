// DPX frames: one picture per file, R, G, B samples (and alpha, not shown) of 8, 10, 12 or 16
// bits, in either byte order.
//
//   offset  size  field, in the file's byte order
//        0     4  magic: "SDPX" big-endian, "XPDS" little-endian
//        4     4  offset to image data, from the start of the file
//      768     2  orientation: 0 left to right, top to bottom; 1 right to left; 2 bottom to top;
//                 3 both; 4 to 7 turn rows into columns and are refused
//      770     2  number of image elements: element 0 is shown, the others must share its layout
//      772     4  pixels per line w
//      776     4  lines per image element h
//   image element 0:
//      780     4  data sign: unsigned only
//      800     1  descriptor: 50 RGB, 51 RGBA
//      803     1  bits per sample: 8, 10, 12, 16
//      804     2  packing: 0 packed into 32-bit words, 1 filled method A, 2 filled method B
//      806     2  encoding: none only (1 is run-length)
//      808     4  offset to the element's data; unset: the one at byte 4
//      812     4  end-of-line padding
// A field whose bytes are all ones is undefined: an undefined padding is none, an undefined
// element offset is unset. A file that leaves descriptor, bit size and packing unset (0 or all
// ones) is 16-bit RGB, as every file was before these fields were read.
//
// h rows of w pixels, each pixel R G B [A], each sample taken down to its top 10 bits, the
// narrow-range code:
//   8 bits       one byte; code = byte * 4
//   16 bits      a 16-bit word
//   12 bits      method A: a 16-bit word, the sample in its top 12 bits (so read as 16 bits)
//                method B: the sample in its low 12 bits
//   10 bits      method A: three samples to a 32-bit word, in bits 31-22, 21-12, 11-2
//                method B: in bits 29-20, 19-10, 9-0
//   10, 12 bits  packed: one stream of 32-bit words, each filled from its lowest bit up, a sample
//                running on into the next word
// Words are in the file's byte order; 32-bit words never hold two rows. Rows of bytes or 16-bit
// words that do not end on a 32-bit boundary are padded to one by ffmpeg (and by GraphicsMagick
// at 8 bits) but not by oiiotool or GraphicsMagick at 12 and 16 bits, and every one of them
// writes an end-of-line padding of 0: such rows are taken as padded when the file is long enough
// for every padded row.
#include "formats/dpx_reader.h"

#include <cstring>
#include <utility>

#include "core/reasons.h"
#include "formats/byte_order.h"
#include "formats/row_walk.h"

namespace {

constexpr uint32_t kDpxMagic = 0x53445058;         // "SDPX"
constexpr uint32_t kDpxMagicSwapped = 0x58504453;  // "XPDS", a little-endian file
constexpr uint32_t kSizeFieldsEnd = 780;           // a shorter file has no picture size
constexpr uint32_t kImageHeaderEnd = 1408;         // eight image elements of 72 bytes from 780
constexpr uint32_t kElementBytes = 72;
constexpr uint32_t kMaxElements = 8;
constexpr uint32_t kUndefined32 = 0xFFFFFFFF;
constexpr uint16_t kUndefined16 = 0xFFFF;
constexpr uint8_t kUndefined8 = 0xFF;
constexpr uint8_t kDescriptorRgb = 50;
constexpr uint8_t kDescriptorRgba = 51;

// What the descriptors not read hold, for the reason a file is refused.
struct DescriptorName {
  uint8_t descriptor;
  const char* name;
};
constexpr DescriptorName kDescriptorNames[] = {
    {1, "red"},
    {2, "green"},
    {3, "blue"},
    {4, "alpha"},
    {6, "luma"},
    {7, "chroma"},
    {8, "depth"},
    {9, "composite video"},
    {52, "ABGR"},
    {100, "YCbCr 4:2:2"},
    {101, "YCbCr 4:2:2:4"},
    {102, "YCbCr 4:4:4"},
    {103, "YCbCr 4:4:4:4"},
};

const char* DescriptorText(uint8_t descriptor) {
  for (const DescriptorName& named : kDescriptorNames) {
    if (named.descriptor == descriptor) return named.name;
  }
  return descriptor >= 150 && descriptor <= 156 ? "user-defined components" : "an unknown layout";
}

enum SampleKind { kBytes8, kWords16, kWords16Low12, kFilled10A, kFilled10B, kPacked10, kPacked12 };

struct DpxLayout {
  uint32_t ImageOffset;
  uint32_t Width;
  uint32_t Height;
  bool LittleEndian;
  SampleKind Samples;
  uint32_t Components;   // 3, or 4 where alpha follows
  uint64_t RowBytes;     // up to the last 32-bit word, byte or 16-bit word that holds a sample
  bool MaybeWordPadded;  // rows of bytes or 16-bit words ending mid-word, the padding unsaid
  RowOrder Order;
};

// The one guard, before anything else is read: a file too short for the size fields, without a
// DPX magic, or of a layout this reader does not decode is no frame it can show. A header cut
// short after the size fields reads as zeros beyond: today's 16-bit RGB.
bool ReadDpxLayout(PlatformFile file, DpxLayout& layout) {
  const char* const path = Viewer.Path;
  uint8_t bytes[kImageHeaderEnd] = {};
  const uint32_t got = PlatformReadFile(file, bytes, kImageHeaderEnd);
  if (got < kSizeFieldsEnd) return SetReason(kReasonDpxShort, path, int(got)), false;
  const uint32_t magic = BigEndian32(bytes);
  if (magic != kDpxMagic && magic != kDpxMagicSwapped) {
    return SetReason(kReasonDpxMagic, path), false;
  }
  const bool little = magic == kDpxMagicSwapped;
  const auto field32 = [&](uint32_t at) {
    return little ? LittleEndian32(bytes + at) : BigEndian32(bytes + at);
  };
  const auto field16 = [&](uint32_t at) {
    return little ? LittleEndian16(bytes + at) : BigEndian16(bytes + at);
  };
  layout.LittleEndian = little;
  layout.Width = field32(772);   // pixels per line
  layout.Height = field32(776);  // lines per image element

  // Another element in another layout (a matte, a second eye in YCbCr) would be a different
  // picture: the file is refused rather than shown in part. Descriptor at +20; bit size,
  // packing and encoding at +23 to +27.
  const uint8_t* element = bytes + kSizeFieldsEnd;
  const uint16_t elements = field16(770);
  if (elements != kUndefined16 && elements > kMaxElements) {
    return SetReason(kReasonDpxElementCount, path, int(elements)), false;
  }
  for (uint32_t k = 1; elements != kUndefined16 && k < elements; ++k) {
    const uint8_t* other = element + k * kElementBytes;
    if (other[20] != element[20] || std::memcmp(other + 23, element + 23, 5) != 0) {
      return SetReason(kReasonDpxElementsDiffer, path, int(k + 1)), false;
    }
  }

  const uint32_t sign = field32(780);
  const uint16_t encoding = field16(806);
  if (sign != 0 && sign != kUndefined32) return SetReason(kReasonDpxSigned, path), false;
  if (encoding != 0 && encoding != kUndefined16) return SetReason(kReasonDpxEncoded, path), false;
  uint8_t descriptor = bytes[800];
  if (descriptor == 0 || descriptor == kUndefined8) descriptor = kDescriptorRgb;
  if (descriptor != kDescriptorRgb && descriptor != kDescriptorRgba) {
    return SetReason(kReasonDpxDescriptor, path, DescriptorText(descriptor), int(descriptor)),
           false;
  }
  layout.Components = descriptor == kDescriptorRgba ? 4 : 3;
  const bool bitsDeclared = bytes[803] != 0 && bytes[803] != kUndefined8;
  const uint8_t bits = bitsDeclared ? bytes[803] : 16;
  uint16_t packing = field16(804);
  if (packing == kUndefined16) packing = 0;
  uint16_t orientation = field16(768);
  if (orientation == kUndefined16) orientation = 0;
  if (packing > 2) return SetReason(kReasonDpxPacking, path, int(packing)), false;
  if (orientation > 3) return SetReason(kReasonDpxOrientation, path, int(orientation)), false;

  const uint64_t samples = uint64_t(layout.Width) * layout.Components;
  if (bits == 8) {
    layout.Samples = kBytes8;
    layout.RowBytes = samples;
  } else if (bits == 16 || (bits == 12 && packing != 0)) {
    layout.Samples = bits == 12 && packing == 2 ? kWords16Low12 : kWords16;
    layout.RowBytes = samples * 2;
  } else if (bits == 10 && packing != 0) {
    layout.Samples = packing == 1 ? kFilled10A : kFilled10B;
    layout.RowBytes = (samples + 2) / 3 * 4;
  } else if (bits == 10 || bits == 12) {
    layout.Samples = bits == 10 ? kPacked10 : kPacked12;
    layout.RowBytes = (samples * bits + 31) / 32 * 4;
  } else {
    // 1 and 32 bits, and whatever else a header says
    return SetReason(kReasonDpxBits, path, int(bits)), false;
  }

  const uint32_t elementOffset = field32(808);
  const bool offsetUnset = elementOffset == 0 || elementOffset == kUndefined32;
  layout.ImageOffset = offsetUnset ? field32(4) : elementOffset;
  const uint32_t padding = field32(812);
  layout.Order.Padding = padding == kUndefined32 ? 0 : padding;
  layout.Order.Mirrored = (orientation & 1) != 0;
  layout.Order.BottomUp = (orientation & 2) != 0;
  layout.MaybeWordPadded = bitsDeclared && layout.Order.Padding == 0 &&
                           (layout.Samples == kBytes8 || layout.Samples == kWords16 ||
                            layout.Samples == kWords16Low12) &&
                           layout.RowBytes % 4 != 0;
  return true;
}

// Whether rows that could end mid-word were padded to 32 bits: only the file's length tells.
uint32_t WordPadding(PlatformFile file, const DpxLayout& layout) {
  const uint64_t padded = (layout.RowBytes + 3) / 4 * 4;
  const int64_t fileBytes = PlatformSeekFile(file, 0, SeekFromEnd);
  const bool fits =
      fileBytes >= 0 && uint64_t(fileBytes) >= layout.ImageOffset + padded * layout.Height;
  return fits ? uint32_t(padded - layout.RowBytes) : 0;
}

// The byte swap where the file's order is not the machine's (both targets are little-endian).
// One load and a swap: a third faster than assembling a word from byte loads.
template <bool kLittleEndian>
inline uint32_t Load16(const uint8_t* at) {
  uint16_t word;
  std::memcpy(&word, at, 2);
  if constexpr (!kLittleEndian) word = __builtin_bswap16(word);
  return word;
}
template <bool kLittleEndian>
inline uint32_t Load32(const uint8_t* at) {
  uint32_t word;
  std::memcpy(&word, at, 4);
  return kLittleEndian ? word : __builtin_bswap32(word);
}

// Samples of whole bytes, kBytes each: CodeAt gives the code of the sample at a byte.
struct Bytes8 {
  static constexpr size_t kBytes = 1;
  static uint32_t CodeAt(const uint8_t* sample) { return uint32_t(*sample) << 2; }
};

template <bool kLittleEndian>
struct Words16 {
  static constexpr size_t kBytes = 2;
  static uint32_t CodeAt(const uint8_t* sample) { return Load16<kLittleEndian>(sample) >> 6; }
};

template <bool kLittleEndian>
struct Words16Low12 {
  static constexpr size_t kBytes = 2;
  static uint32_t CodeAt(const uint8_t* sample) {
    return (Load16<kLittleEndian>(sample) & 0xFFF) >> 2;
  }
};

// Samples that share words with others: Code gives the code of sample i of a row.
// Three to a word, the first at kFirstShift: 22 (method A) or 20 (method B).
template <bool kLittleEndian, uint32_t kFirstShift>
struct Filled10 {
  static uint32_t Code(const uint8_t* row, uint32_t i) {
    const uint32_t word = i / 3;
    return Load32<kLittleEndian>(row + 4 * size_t(word)) >> (kFirstShift - 10 * (i - 3 * word)) &
           0x3FF;
  }
};

// The word a sample starts in and the one after it, as one 64-bit number. The second word lies
// past the row when the sample does not run into it: still inside the read block, which keeps
// room after every row, and masked off.
template <bool kLittleEndian, uint32_t kBits>
struct Packed {
  static uint32_t Code(const uint8_t* row, uint32_t i) {
    const uint32_t bit = i * kBits;
    const uint8_t* word = row + size_t(bit / 32) * 4;
    const uint64_t pair = Load32<kLittleEndian>(word) | uint64_t(Load32<kLittleEndian>(word + 4))
                                                            << 32;
    return (uint32_t(pair >> (bit % 32)) & ((1u << kBits) - 1)) >> (kBits - 10);
  }
};
static_assert(uint64_t(kMaxSourceWidth) * 4 * 12 / 8 + 4 <= uint64_t(kReadBufferSize),
              "a packed row and the word after it fit the ReadBuffer");

// The codes of one pixel's R, G and B, the pixel at `at` of a row. A pixel of whole bytes is
// found by its first byte, kUnit bytes a pixel: found by its index instead, with a multiply per
// pixel, 16-bit RGB at 1/1 took a tenth longer.
template <class Sample, uint32_t kComponents>
struct WholeBytePixels {
  static constexpr size_t kUnit = Sample::kBytes * kComponents;
  static void Codes(const uint8_t* row, size_t at, uint32_t (&code)[3]) {
    code[0] = Sample::CodeAt(row + at);
    code[1] = Sample::CodeAt(row + at + Sample::kBytes);
    code[2] = Sample::CodeAt(row + at + 2 * Sample::kBytes);
  }
};

// An RGB pixel filled to 32 bits is one whole word: one load for three samples.
template <bool kLittleEndian, uint32_t kFirstShift>
struct Filled10RgbPixels {
  static constexpr size_t kUnit = 4;
  static void Codes(const uint8_t* row, size_t at, uint32_t (&code)[3]) {
    const uint32_t word = Load32<kLittleEndian>(row + at);
    code[0] = word >> kFirstShift & 0x3FF;
    code[1] = word >> (kFirstShift - 10) & 0x3FF;
    code[2] = word >> (kFirstShift - 20) & 0x3FF;
  }
};

// Other pixels are found by their index: samples p * components + 0, 1, 2.
template <class Sample, uint32_t kComponents>
struct IndexedPixels {
  static constexpr size_t kUnit = 1;
  static void Codes(const uint8_t* row, size_t at, uint32_t (&code)[3]) {
    const uint32_t i = uint32_t(at) * kComponents;
    code[0] = Sample::Code(row, i);
    code[1] = Sample::Code(row, i + 1);
    code[2] = Sample::Code(row, i + 2);
  }
};

#if defined(__SSE2__)
// The codes of eight neighbouring pixels, pixel `at` and the next seven, one to a 16-bit lane of
// each channel. For most layouts that is each pixel's own codes put into lanes: it still saves
// the table look-ups and the byte stores, which cost more than finding the codes.
template <class Pixels>
struct EightPixelCodes {
  static void Get(const uint8_t* row, size_t at, __m128i& red, __m128i& green, __m128i& blue) {
    uint32_t c[8][3];
    for (size_t i = 0; i < 8; ++i) Pixels::Codes(row, at + i * Pixels::kUnit, c[i]);
    const auto lanes = [&c](int k) {
      return _mm_setr_epi16(short(c[0][k]), short(c[1][k]), short(c[2][k]), short(c[3][k]),
                            short(c[4][k]), short(c[5][k]), short(c[6][k]), short(c[7][k]));
    };
    red = lanes(0), green = lanes(1), blue = lanes(2);
  }
};

// Each 16-bit lane's bytes swapped, for files whose byte order is not the machine's.
template <bool kLittleEndian>
inline __m128i InMachineOrder16(__m128i v) {
  return kLittleEndian ? v : _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// 16-bit samples go into the lanes as they lie, and are turned into codes eight at once.
template <bool kLittleEndian, uint32_t kComponents>
struct EightPixelCodes<WholeBytePixels<Words16<kLittleEndian>, kComponents>> {
  static void Get(const uint8_t* row, size_t at, __m128i& red, __m128i& green, __m128i& blue) {
    const std::make_index_sequence<8> lanes;
    red = Codes(row + at, lanes), green = Codes(row + at + 2, lanes);
    blue = Codes(row + at + 4, lanes);
  }

  // Lane i from the sample at first + i pixels; a lane is chosen by a constant only.
  template <size_t... kLane>
  static __m128i Codes(const uint8_t* first, std::index_sequence<kLane...>) {
    __m128i words = _mm_setzero_si128();
    uint16_t word;
    ((std::memcpy(&word, first + kLane * 2 * kComponents, 2),
      words = _mm_insert_epi16(words, word, int(kLane))),
     ...);
    return _mm_srli_epi16(InMachineOrder16<kLittleEndian>(words), 6);
  }
};

// Four RGB words filled to 32 bits are one vector: every field is a shift and a mask.
template <bool kLittleEndian, uint32_t kFirstShift>
struct EightPixelCodes<Filled10RgbPixels<kLittleEndian, kFirstShift>> {
  static void Get(const uint8_t* row, size_t at, __m128i& red, __m128i& green, __m128i& blue) {
    const __m128i* const words = reinterpret_cast<const __m128i*>(row + at);
    const __m128i mask = _mm_set1_epi32(0x3FF);
    __m128i fields[2][3];
    for (int half = 0; half < 2; ++half) {
      __m128i w = _mm_loadu_si128(words + half);
      if (!kLittleEndian) {
        // Bytes swapped in each 16-bit half, then the halves swapped.
        constexpr int kHalves = _MM_SHUFFLE(2, 3, 0, 1);
        w = _mm_shufflehi_epi16(_mm_shufflelo_epi16(InMachineOrder16<false>(w), kHalves), kHalves);
      }
      fields[half][0] = _mm_and_si128(_mm_srli_epi32(w, kFirstShift), mask);
      fields[half][1] = _mm_and_si128(_mm_srli_epi32(w, kFirstShift - 10), mask);
      fields[half][2] = _mm_and_si128(_mm_srli_epi32(w, kFirstShift - 20), mask);
    }
    red = _mm_packs_epi32(fields[0][0], fields[1][0]);
    green = _mm_packs_epi32(fields[0][1], fields[1][1]);
    blue = _mm_packs_epi32(fields[0][2], fields[1][2]);
  }
};
#endif

// One shown row: every Step-th pixel of the row into consecutive bitmap pixels; in a mirrored
// row the picture's left edge is the row's last pixel, and the walk runs backwards (unsigned
// steps that wrap, so the last one may point before the row: it is never read).
template <class Pixels>
struct DpxRow {
  static void Decode(const RowWalk& walk, uint8_t* destination) {
    const int32_t* narrowToFull = NarrowToFullTable;
    const uint8_t* row = walk.Rows[0];
    const size_t forward = size_t(walk.Step) * Pixels::kUnit;
    const size_t step = walk.Mirrored ? 0 - forward : forward;
    size_t at = walk.Mirrored ? size_t(walk.Width - 1) * Pixels::kUnit : 0;
    int32_t x = 0;
#if defined(__SSE2__)
    // At Original size, left to right: eight pixels at a time.
    if (walk.Step == 1 && !walk.Mirrored) {
      for (; x + 8 <= walk.Columns; x += 8, at += 8 * forward, destination += 32) {
        __m128i red, green, blue;
        EightPixelCodes<Pixels>::Get(row, at, red, green, blue);
        StoreEightCodes(red, green, blue, destination);
      }
    }
#endif
    for (; x < walk.Columns; ++x, at += step, destination += 4) {
      uint32_t code[3];
      Pixels::Codes(row, at, code);
      StorePixel({narrowToFull[code[0]], narrowToFull[code[1]], narrowToFull[code[2]]},
                 destination);
    }
  }
};

// The decoder is chosen here, once for the frame.
template <class RgbPixels, class RgbaPixels>
int32_t DecodeDpx(PlatformFile file, const DpxLayout& layout) {
  FrameRows rows = {};
  rows.Files[0] = file;
  rows.FileCount = 1;
  rows.FirstRow = layout.ImageOffset;
  rows.RowBytes = uint32_t(layout.RowBytes);  // at most 61440 within the size limits
  rows.Order = layout.Order;
  rows.Missing = &kZeroRowBytes;
  if (layout.Components == 4) return DecodeFrame<DpxRow<RgbaPixels>>(rows);
  return DecodeFrame<DpxRow<RgbPixels>>(rows);
}

template <class Sample>
int32_t DecodeWholeBytes(PlatformFile file, const DpxLayout& layout) {
  return DecodeDpx<WholeBytePixels<Sample, 3>, WholeBytePixels<Sample, 4>>(file, layout);
}

template <class Sample>
int32_t DecodeIndexed(PlatformFile file, const DpxLayout& layout) {
  return DecodeDpx<IndexedPixels<Sample, 3>, IndexedPixels<Sample, 4>>(file, layout);
}

template <bool kLittleEndian>
int32_t DecodeInByteOrder(PlatformFile file, const DpxLayout& layout) {
  constexpr bool L = kLittleEndian;
  switch (layout.Samples) {
    case kBytes8:
      return DecodeWholeBytes<Bytes8>(file, layout);
    case kWords16:
      return DecodeWholeBytes<Words16<L>>(file, layout);
    case kWords16Low12:
      return DecodeWholeBytes<Words16Low12<L>>(file, layout);
    case kFilled10A:
      return DecodeDpx<Filled10RgbPixels<L, 22>, IndexedPixels<Filled10<L, 22>, 4>>(file, layout);
    case kFilled10B:
      return DecodeDpx<Filled10RgbPixels<L, 20>, IndexedPixels<Filled10<L, 20>, 4>>(file, layout);
    case kPacked10:
      return DecodeIndexed<Packed<L, 10>>(file, layout);
    case kPacked12:
      return DecodeIndexed<Packed<L, 12>>(file, layout);
  }
  return -1;
}

int32_t ReadOpenDpx(PlatformFile file) {
  DpxLayout layout = {};
  if (!ReadDpxLayout(file, layout)) return -1;

  // The size handshake: another size is recorded, not decoded; the caller rebuilds the bitmap
  // and loads again. The limits keep a row inside the ReadBuffer.
  if (layout.Width != uint32_t(Viewer.SourceWidth) ||
      layout.Height != uint32_t(Viewer.SourceHeight)) {
    if (layout.Width > uint32_t(kMaxSourceWidth) || layout.Height > uint32_t(kMaxSourceHeight)) {
      SetReason(kReasonTooLarge, Viewer.Path, unsigned(layout.Width), unsigned(layout.Height));
      return -1;
    }
    Viewer.SourceWidth = int32_t(layout.Width);
    Viewer.SourceHeight = int32_t(layout.Height);
    return 0;
  }

  if (layout.MaybeWordPadded) layout.Order.Padding = WordPadding(file, layout);
  // An offset past the end of the file is not refused: every row then reads as black.
  return layout.LittleEndian ? DecodeInByteOrder<true>(file, layout)
                             : DecodeInByteOrder<false>(file, layout);
}

}  // namespace

int32_t ReadDpxFrame() {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return SetReason(kReasonCantOpen, Viewer.Path), -1;
  const int32_t result = ReadOpenDpx(file);
  PlatformCloseFile(file);
  return result;
}
