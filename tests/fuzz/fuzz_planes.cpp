// Planar R/G/B frames: three plane files cut from one input, named so that the size character,
// the "K" and the dot before the plane letter all come from the input too.
//
// Input:
//   byte 0     control: bits 0-1 ScaleShift, bit 2 HDR-to-SDR, bit 3 BT.709, bits 4-6 leave out
//              the r, g, b plane file, bit 7 the listed name ends in an upper-case letter
//   bytes 1-3  the three characters before the plane letter: size, "K", dot
//   bytes 4-7  the size shown before this frame, width and height, 16 bits each (big-endian),
//              taken modulo 7681 and 4321: the size a "2K" name is read at
//   bytes 8-11 lengths of the r and g planes, 16 bits each; the b plane gets the rest
//   then       the plane bytes, r, g, b one after another
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/rgb_planes_reader.h"
#include "fuzz_common.h"

namespace {

constexpr size_t kHeaderBytes = 12;
constexpr uint32_t kPlanarBytesPerPixel = 6;  // three planes of 16-bit samples
constexpr char kPlaneLetters[] = "rgb";

uint32_t BigEndian16(const uint8_t* p) {
  return uint32_t(p[0]) << 8 | p[1];
}

// Names on this system cannot hold "/" or a zero byte.
char NameCharacter(uint8_t c) {
  return c == '/' || c == '\0' ? '_' : char(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const uint8_t control = data[0];
  int32_t width = int32_t(BigEndian16(data + 4) % uint32_t(kMaxSourceWidth + 1));
  int32_t height = int32_t(BigEndian16(data + 6) % uint32_t(kMaxSourceHeight + 1));
  // A big previous size would decode slowly on the first call: halve it until it is cheap.
  while (!fuzz::CheapToDecode(width, height, control & 3, kPlanarBytesPerPixel)) {
    width /= 2;
    height /= 2;
  }
  fuzz::StartRun(control, width, height);

  std::string stem = "clip";
  for (int i = 1; i <= 3; ++i) stem += NameCharacter(data[i]);
  const uint8_t* planeBytes = data + kHeaderBytes;
  size_t left = size - kHeaderBytes;
  const size_t cut[2] = {BigEndian16(data + 8), BigEndian16(data + 10)};
  for (int k = 0; k < 3; ++k) {
    const size_t length = k < 2 ? (cut[k] < left ? cut[k] : left) : left;
    const std::string name = stem + kPlaneLetters[k];
    if ((control & (0x10 << k)) != 0) {
      fuzz::RemoveScratchFile(name);
    } else {
      fuzz::WriteScratchFile(name, planeBytes, length);
    }
    planeBytes += length;
    left -= length;
  }
  const char listedLetter = (control & 0x80) != 0 ? 'G' : 'g';
  if (!fuzz::SetPath((fuzz::ScratchFolder() / (stem + listedLetter)).string())) return 0;
  const bool allPlanes = (control & 0x70) == 0;

  const int32_t first = fuzz::Checked(ReadRgbPlanesFrame());
  const bool resized = Viewer.SourceWidth != width || Viewer.SourceHeight != height;
  if (first != 0 && resized) fuzz::Broken("a refused frame changed the source size");
  if (first == 0 && resized) {
    if (!fuzz::Refit(kPlanarBytesPerPixel)) return 0;
    const int32_t second = fuzz::Checked(ReadRgbPlanesFrame());
    if (FrameBufferNeedsRefit()) fuzz::Broken("second call changed the size again");
    if (second != 0 && allPlanes) fuzz::Broken("second call after the resize failed");
  }
  return 0;
}
