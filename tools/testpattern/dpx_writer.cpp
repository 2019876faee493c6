// DPX frames as the viewer reads them, with a header other tools accept too.
//
//   0     "SDPX", then the offset to image data (2048), version "V2.0", file size, ditto key,
//         generic (1664) / industry (384) / user (0) header sizes, file name, creator, encryption
//   768   image header: orientation 0 (left to right, top to bottom), 1 element,
//         pixels per line at 772, lines at 776, then element 1 at 780: data sign, reference
//         codes, descriptor 50 (RGB), transfer and colorimetry, bit depth 16, packing 0,
//         encoding 0, data offset
//   1408  orientation header (left zero), 1664 film header, 1920 television header
//   2048  image data: rows top first, pixels R, G, B as 16-bit big-endian samples holding the
//         10-bit code in their top bits (code << 6), no padding
#include <cstring>
#include <string>
#include <vector>

#include "tools/testpattern/output_file.h"
#include "tools/testpattern/pattern.h"
#include "tools/testpattern/writers.h"

namespace {

constexpr uint32_t kHeaderSize = 2048;
constexpr uint32_t kGenericHeaderSize = 1664;
constexpr uint32_t kIndustryHeaderSize = 384;
constexpr uint32_t kUndefined32 = 0xFFFFFFFF;
constexpr uint8_t kDescriptorRgb = 50;
// DPX has no code for BT.2020; "unspecified video" is the honest answer for both.
constexpr uint8_t kTransferUnspecifiedVideo = 4;
constexpr uint8_t kColorimetryUnspecifiedVideo = 4;
constexpr float kFrameRate = 24.0f;

void PutText(ByteVector& h, size_t at, size_t room, const std::string& text) {
  std::memcpy(&h[at], text.data(), std::min(text.size(), room - 1));
}

ByteVector MakeDpxHeader(const PatternJob& job, int32_t frameIndex, const std::string& fileName) {
  ByteVector h(kHeaderSize, 0);
  const uint64_t imageBytes = uint64_t(job.Width) * uint64_t(job.Height) * 6;
  std::memcpy(&h[0], "SDPX", 4);
  PutBigEndian32(&h[4], kHeaderSize);  // offset to image data
  PutText(h, 8, 8, "V2.0");
  PutBigEndian32(&h[16], uint32_t(kHeaderSize + imageBytes));  // total file size
  PutBigEndian32(&h[20], 1);                                   // ditto key: new frame
  PutBigEndian32(&h[24], kGenericHeaderSize);
  PutBigEndian32(&h[28], kIndustryHeaderSize);
  PutBigEndian32(&h[32], 0);  // user data
  PutText(h, 36, 100, fileName);
  PutText(h, 160, 100, "zelkora-testpattern");
  PutBigEndian32(&h[660], kUndefined32);  // encryption key: not encrypted

  // Image information header.
  PutBigEndian16(&h[768], 0);  // orientation: left to right, top to bottom
  PutBigEndian16(&h[770], 1);  // one image element
  // Image width lives at byte 772, height at 776.
  PutBigEndian32(&h[772], uint32_t(job.Width));
  PutBigEndian32(&h[776], uint32_t(job.Height));
  uint8_t* element = &h[780];
  PutBigEndian32(element + 0, 0);                          // unsigned samples
  PutBigEndian32(element + 4, uint32_t(kBlackCode) << 6);  // reference low code
  PutBigEndianFloat(element + 8, 0.0f);
  PutBigEndian32(element + 12, uint32_t(kWhiteCode) << 6);  // reference high code
  PutBigEndianFloat(element + 16, 1.0f);
  element[20] = kDescriptorRgb;
  element[21] = kTransferUnspecifiedVideo;
  element[22] = kColorimetryUnspecifiedVideo;
  element[23] = 16;                           // bits per sample
  PutBigEndian16(element + 24, 0);            // packing: none needed at 16 bits
  PutBigEndian16(element + 26, 0);            // encoding: none
  PutBigEndian32(element + 28, kHeaderSize);  // offset to this element's data
  PutBigEndian32(element + 32, 0);            // end-of-line padding
  PutBigEndian32(element + 36, 0);            // end-of-image padding
  PutText(h, 780 + 40, 32, "RGB 16-bit");

  // Film header: frame position and sequence length, counted from 1; then the rate.
  PutBigEndian32(&h[1712], uint32_t(frameIndex + 1));
  PutBigEndian32(&h[1716], uint32_t(job.Frames));
  PutBigEndianFloat(&h[1724], kFrameRate);
  // Television header: the temporal sampling rate.
  PutBigEndianFloat(&h[1940], kFrameRate);
  return h;
}

int32_t WriteDpxFrame(const PatternJob& job, int32_t frameIndex, std::vector<Rgb10>& pattern,
                      ByteVector& samples) {
  const std::string fileName = FrameFileStem(job, frameIndex) + ".dpx";
  OutputFile out(job.OutDir + "/" + fileName);
  if (!out.IsOpen()) {
    std::fprintf(stderr, "Can't create %s\n", out.Path().c_str());
    return -1;
  }
  out.Write(MakeDpxHeader(job, frameIndex, fileName));
  const PatternLayout layout =
      MakePatternLayout(job.Width, job.Height, job.FirstNumber + frameIndex);
  for (int32_t y = 0; y < job.Height; ++y) {
    RenderPatternRow(layout, y, pattern.data());
    uint8_t* at = samples.data();
    for (int32_t x = 0; x < job.Width; ++x) {
      PutBigEndian16(at, uint16_t(pattern[x].R << 6));
      PutBigEndian16(at + 2, uint16_t(pattern[x].G << 6));
      PutBigEndian16(at + 4, uint16_t(pattern[x].B << 6));
      at += 6;
    }
    out.Write(samples);
  }
  if (!out.Close()) {
    std::fprintf(stderr, "Can't write %s\n", out.Path().c_str());
    return -1;
  }
  return 0;
}

}  // namespace

int32_t WriteDpxSequence(const PatternJob& job) {
  std::vector<Rgb10> pattern(size_t(job.Width));
  ByteVector samples(size_t(job.Width) * 6);
  for (int32_t i = 0; i < job.Frames; ++i) {
    if (WriteDpxFrame(job, i, pattern, samples) != 0) return -1;
  }
  return 0;
}
