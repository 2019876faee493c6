// DPX frames: one picture per file, R, G, B samples (and alpha, not shown) of 8, 10, 12 or 16
// bits, in either byte order; the fields and sample layouts read are in docs/frame-layouts.md.
#include "formats/dpx_reader.h"

#include <cstring>

#include "core/reasons.h"
#include "formats/dpx_row.h"

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
  uint8_t Descriptor;
  const char* Name;
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
    if (named.Descriptor == descriptor) return named.Name;
  }
  return descriptor >= 150 && descriptor <= 156 ? "user-defined components" : "an unknown layout";
}

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

// The one guard: a file too short for the size fields, without a DPX magic, or of a layout not
// decoded is refused. A header cut short after the size fields reads as zeros: 16-bit RGB.
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

  // Another element in another layout (a matte, a YCbCr eye) is another picture: refused, not
  // shown in part. Descriptor at +20; bit size, packing and encoding at +23 to +27.
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

// The kernel is chosen here, once for the frame.
int32_t DecodeDpx(PlatformFile file, const DpxLayout& layout) {
  FrameRows rows = {};
  rows.Files[0] = file;
  rows.FileCount = 1;
  rows.FirstRow = layout.ImageOffset;
  rows.RowBytes = uint32_t(layout.RowBytes);  // at most 61440 within the size limits
  rows.Order = layout.Order;
  rows.Missing = &kZeroRowBytes;
  const auto decode =
      layout.LittleEndian
          ? (UseSse2Kernels ? DecodeDpxRows<true, DpxRowSse2> : DecodeDpxRows<true, DpxRow>)
          : (UseSse2Kernels ? DecodeDpxRows<false, DpxRowSse2> : DecodeDpxRows<false, DpxRow>);
  return decode(rows, layout.Samples, layout.Components);
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
  return DecodeDpx(file, layout);
}

}  // namespace

int32_t ReadDpxFrame() {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return SetReason(kReasonCantOpen, Viewer.Path), -1;
  const int32_t result = ReadOpenDpx(file);
  PlatformCloseFile(file);
  return result;
}
