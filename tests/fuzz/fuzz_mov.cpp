// QuickTime movies through the shell's open road: the atom scan, the size handshake and the
// v210 reader, then a chosen frame and the next. Input: a control byte (see StartRun), the
// frame index as a big-endian 32-bit signed number, then the movie. Frames may be up to 8K, so
// they are shown at 1/4 or 1/8: both drop the surplus of a width that is no multiple of 4.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  fuzz::StartRun(data[0] | 2);
  fuzz::Open(fuzz::WriteScratchFile("movie.mov", data + 5, size - 5));
  if (Viewer.FrameCount <= 0) return 0;
  Viewer.CurrentFrame = int32_t(uint32_t(data[1]) << 24 | data[2] << 16 | data[3] << 8 | data[4]);
  fuzz::Play(1);
  return 0;
}
