// The full header, by offset, in the layout's byte order:
//   0     "SDPX" ("XPDS" little-endian), offset to image data, version "V2.0", file size, ditto
//         key, generic (1664) / industry (384) / user (0) header sizes, file name, creator,
//         encryption key
//   768   image header: orientation (0: left to right, top to bottom), 1 element, pixels per
//         line at 772, lines at 776, then element 1 at 780: data sign, reference codes,
//         descriptor (50: RGB), transfer and colorimetry, bit depth (16), packing (0), encoding
//         0, data offset, end-of-line padding (0)
//   1408  orientation header (left zero), 1664 film header, 1920 television header
#include "tools/testpattern/dpx_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kGenericHeaderSize = 1664;
constexpr uint32_t kIndustryHeaderSize = 384;
constexpr uint32_t kUndefined32 = 0xFFFFFFFF;
// DPX has no code for BT.2020; "unspecified video" is the honest answer for both.
constexpr uint8_t kTransferUnspecifiedVideo = 4;
constexpr uint8_t kColorimetryUnspecifiedVideo = 4;
constexpr float kFrameRate = 24.0f;

using Put16 = void (*)(uint8_t*, uint16_t);
using Put32 = void (*)(uint8_t*, uint32_t);

void PutText(Bytes& h, size_t at, size_t room, const std::string& text) {
  std::copy_n(text.begin(), std::min(text.size(), room - 1), &h[at]);
}

}  // namespace

Bytes DpxMinimalHeader(uint32_t width, uint32_t height, uint32_t imageOffset) {
  Bytes h(std::max(imageOffset, 780u), 0);
  PutText(h, 0, 5, "SDPX");
  PutBigEndian32(&h[4], imageOffset);
  PutBigEndian32(&h[772], width);
  PutBigEndian32(&h[776], height);
  return h;
}

namespace {

// DpxHeader in either byte order, with the layout's fields.
Bytes LayoutHeader(const DpxFileLayout& layout, uint32_t width, uint32_t height,
                   const std::string& fileName, uint32_t position, uint32_t frames,
                   uint64_t imageBytes) {
  const bool little = layout.LittleEndian;
  const Put16 put16 = little ? Put16(PutLittleEndian16) : Put16(PutBigEndian16);
  const Put32 put32 = little ? Put32(PutLittleEndian32) : Put32(PutBigEndian32);
  const auto putFloat = [&put32](uint8_t* at, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put32(at, bits);
  };
  Bytes h = DpxMinimalHeader(width, height);
  PutText(h, 0, 5, little ? "XPDS" : "SDPX");
  put32(&h[4], kDpxImageOffset);
  put32(&h[772], width);
  put32(&h[776], height);
  PutText(h, 8, 8, "V2.0");
  put32(&h[16], uint32_t(kDpxImageOffset + imageBytes));
  put32(&h[20], 1);  // ditto key: new frame
  put32(&h[24], kGenericHeaderSize);
  put32(&h[28], kIndustryHeaderSize);
  PutText(h, 36, 100, fileName);
  PutText(h, 160, 100, "zelkora-testpattern");
  put32(&h[660], kUndefined32);  // encryption key: not encrypted

  put16(&h[768], layout.Orientation);
  put16(&h[770], 1);  // one image element
  uint8_t* element = &h[780];
  // Reference codes at the sample's bit depth.
  const auto reference = [&layout](uint32_t code) {
    return layout.Bits >= 10 ? code << (layout.Bits - 10) : code >> (10 - layout.Bits);
  };
  put32(element + 4, reference(kBlackCode));   // reference low code
  put32(element + 12, reference(kWhiteCode));  // reference high code
  putFloat(element + 16, 1.0f);
  element[20] = layout.Descriptor;
  element[21] = kTransferUnspecifiedVideo;
  element[22] = kColorimetryUnspecifiedVideo;
  element[23] = layout.Bits;
  put16(element + 24, layout.Packing);   // encoding: none
  put32(element + 28, kDpxImageOffset);  // offset to this element's data
  put32(element + 32, layout.Padding);   // end-of-line padding
  PutText(h, 780 + 40, 32, "zelkora-testpattern");

  // Film header: frame position and sequence length, counted from 1; then the rate.
  put32(&h[1712], position);
  put32(&h[1716], frames);
  putFloat(&h[1724], kFrameRate);
  // Television header: the temporal sampling rate.
  putFloat(&h[1940], kFrameRate);
  return h;
}

// The sample of a code at the layout's bit depth: the code's top bits repeat below it, as
// writers that scale 10 bits up do.
uint32_t Sample(uint32_t code, uint32_t bits) {
  return bits <= 10 ? code >> (10 - bits) : (code << (bits - 10) | code >> (20 - bits));
}

}  // namespace

Bytes DpxHeader(uint32_t width, uint32_t height, const std::string& fileName, uint32_t position,
                uint32_t frames) {
  return LayoutHeader({}, width, height, fileName, position, frames,
                      uint64_t(width) * height * kDpxBytesPerPixel);
}

RowFile DpxLayoutFile(const DpxFileLayout& layout, int32_t width, int32_t height,
                      const PictureRows& picture) {
  const uint32_t components = layout.Descriptor == 51 ? 4 : 3, bits = layout.Bits;
  const uint64_t samples = uint64_t(width) * components;
  const bool words16 = bits == 16 || (bits == 12 && layout.Packing != 0);
  uint64_t rowBytes = bits == 8                           ? samples
                      : words16                           ? samples * 2
                      : bits == 10 && layout.Packing != 0 ? (samples + 2) / 3 * 4
                                                          : (samples * bits + 31) / 32 * 4;
  if (layout.WordPadded) rowBytes = (rowBytes + 3) / 4 * 4;
  rowBytes += layout.Padding;
  std::vector<Rgb10> pixels(static_cast<size_t>(width));
  const Put16 put16 = layout.LittleEndian ? Put16(PutLittleEndian16) : Put16(PutBigEndian16);
  const Put32 put32 = layout.LittleEndian ? Put32(PutLittleEndian32) : Put32(PutBigEndian32);
  const auto fill = [=](uint64_t fileRow, uint8_t* out) mutable {
    picture(layout.Orientation & 2 ? height - 1 - int32_t(fileRow) : int32_t(fileRow),
            pixels.data());
    std::fill(out, out + rowBytes, uint8_t(0xC5));  // padding the reader must pass over
    // Samples in file order, into bytes, 16-bit words or a stream of 32-bit words.
    std::vector<uint32_t> words(size_t(rowBytes / 4 + 1), 0);
    for (uint64_t i = 0; i < samples; ++i) {
      const int32_t x = int32_t(i / components);
      const Rgb10& p = pixels[size_t(layout.Orientation & 1 ? width - 1 - x : x)];
      const uint32_t c = uint32_t(i % components);
      const uint32_t code = c == 0 ? p.R : c == 1 ? p.G : c == 2 ? p.B : 1023u - p.R;
      const uint32_t v = Sample(code, bits);
      if (bits == 8) {
        out[i] = uint8_t(v);
      } else if (words16) {
        const uint16_t word = uint16_t(layout.Packing == 2 || bits == 16 ? v : v << 4);
        put16(out + 2 * i, word);
      } else if (layout.Packing != 0) {  // 10 bits, three to a word from the top
        words[i / 3] |= v << ((layout.Packing == 1 ? 22 : 20) - 10 * (i % 3));
      } else {  // packed from the lowest bit up
        const uint64_t bit = i * bits;
        words[bit / 32] |= v << (bit % 32);
        if (bit % 32 + bits > 32) words[bit / 32 + 1] |= v >> (32 - bit % 32);
      }
    }
    const uint64_t wordBytes = bits == 8 || words16 ? 0 : (rowBytes - layout.Padding) / 4 * 4;
    for (uint64_t k = 0; k < wordBytes; k += 4) {
      put32(out + k, words[k / 4]);
    }
  };
  Bytes head = LayoutHeader(layout, uint32_t(width), uint32_t(height), "", 1, 1,
                            rowBytes * uint64_t(height));
  return {head, uint64_t(height), size_t(rowBytes), fill, {}};
}

void PutDpxRow(const Rgb10* pixels, int32_t width, uint8_t* out) {
  for (int32_t x = 0; x < width; ++x, out += kDpxBytesPerPixel) {
    PutBigEndian16(out, uint16_t(pixels[x].R << 6));
    PutBigEndian16(out + 2, uint16_t(pixels[x].G << 6));
    PutBigEndian16(out + 4, uint16_t(pixels[x].B << 6));
  }
}
