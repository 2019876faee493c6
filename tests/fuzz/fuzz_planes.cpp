// Planar R/G/B frames through the shell's open road: three plane files cut from one input.
//
// Input: a control byte (see StartRun; bits 4-6 leave out the r, g, b file), the three
// characters before the plane letter (size, "K", dot), the size shown before (width and height,
// 16 bits each, big-endian, below 256 x 256: the size any name but 4K and 8K is read at), the
// lengths of the r and g planes (16 bits each; b gets the rest), then the plane bytes. 4K and
// 8K names are shown at 1/8.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  const auto word = [data](int at) { return size_t(data[at]) << 8 | data[at + 1]; };
  fuzz::StartRun(data[1] == '4' || data[1] == '8' ? data[0] | 3 : data[0]);
  Viewer.SourceWidth = int32_t(word(4) & 0xFF);
  Viewer.SourceHeight = int32_t(word(6) & 0xFF);
  ResetFrameBuffer();
  std::string stem = "clip_0001";
  for (int i = 1; i <= 3; ++i) stem += data[i] == '/' || data[i] == 0 ? '_' : char(data[i]);
  const uint8_t* at = data + 12;
  size_t left = size - 12;
  std::error_code ignored;
  for (int k = 0; k < 3; ++k) {
    const size_t length = k < 2 && word(8 + 2 * k) < left ? word(8 + 2 * k) : left;
    std::filesystem::remove(fuzz::ScratchFolder() / (stem + "rgb"[k]), ignored);
    if ((data[0] & (0x10 << k)) == 0) fuzz::WriteScratchFile(stem + "rgb"[k], at, length);
    at += length, left -= length;
  }
  fuzz::Open((fuzz::ScratchFolder() / (stem + 'g')).string());
  return 0;
}
