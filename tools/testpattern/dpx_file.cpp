// The full header, by offset:
//   0     "SDPX", offset to image data, version "V2.0", file size, ditto key, generic (1664) /
//         industry (384) / user (0) header sizes, file name, creator, encryption key
//   768   image header: orientation 0 (left to right, top to bottom), 1 element, pixels per
//         line at 772, lines at 776, then element 1 at 780: data sign, reference codes,
//         descriptor 50 (RGB), transfer and colorimetry, bit depth 16, packing 0, encoding 0,
//         data offset
//   1408  orientation header (left zero), 1664 film header, 1920 television header
#include "tools/testpattern/dpx_file.h"

#include <algorithm>

namespace {

constexpr uint32_t kGenericHeaderSize = 1664;
constexpr uint32_t kIndustryHeaderSize = 384;
constexpr uint32_t kUndefined32 = 0xFFFFFFFF;
constexpr uint8_t kDescriptorRgb = 50;
// DPX has no code for BT.2020; "unspecified video" is the honest answer for both.
constexpr uint8_t kTransferUnspecifiedVideo = 4;
constexpr uint8_t kColorimetryUnspecifiedVideo = 4;
constexpr float kFrameRate = 24.0f;

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

Bytes DpxHeader(uint32_t width, uint32_t height, const std::string& fileName, uint32_t position,
                uint32_t frames) {
  Bytes h = DpxMinimalHeader(width, height);
  PutText(h, 8, 8, "V2.0");
  PutBigEndian32(&h[16], uint32_t(kDpxImageOffset + uint64_t(width) * height * kDpxBytesPerPixel));
  PutBigEndian32(&h[20], 1);  // ditto key: new frame
  PutBigEndian32(&h[24], kGenericHeaderSize);
  PutBigEndian32(&h[28], kIndustryHeaderSize);
  PutText(h, 36, 100, fileName);
  PutText(h, 160, 100, "zelkora-testpattern");
  PutBigEndian32(&h[660], kUndefined32);  // encryption key: not encrypted

  PutBigEndian16(&h[770], 1);  // one image element
  uint8_t* element = &h[780];
  PutBigEndian32(element + 4, uint32_t(kBlackCode) << 6);   // reference low code
  PutBigEndian32(element + 12, uint32_t(kWhiteCode) << 6);  // reference high code
  PutBigEndianFloat(element + 16, 1.0f);
  element[20] = kDescriptorRgb;
  element[21] = kTransferUnspecifiedVideo;
  element[22] = kColorimetryUnspecifiedVideo;
  element[23] = 16;                               // bits per sample; packing and encoding: none
  PutBigEndian32(element + 28, kDpxImageOffset);  // offset to this element's data
  PutText(h, 780 + 40, 32, "RGB 16-bit");

  // Film header: frame position and sequence length, counted from 1; then the rate.
  PutBigEndian32(&h[1712], position);
  PutBigEndian32(&h[1716], frames);
  PutBigEndianFloat(&h[1724], kFrameRate);
  // Television header: the temporal sampling rate.
  PutBigEndianFloat(&h[1940], kFrameRate);
  return h;
}

void PutDpxRow(const Rgb10* pixels, int32_t width, uint8_t* out) {
  for (int32_t x = 0; x < width; ++x, out += kDpxBytesPerPixel) {
    PutBigEndian16(out, uint16_t(pixels[x].R << 6));
    PutBigEndian16(out + 2, uint16_t(pixels[x].G << 6));
    PutBigEndian16(out + 4, uint16_t(pixels[x].B << 6));
  }
}
