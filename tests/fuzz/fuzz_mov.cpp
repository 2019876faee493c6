// QuickTime movies: the atom scan, then the v210 reader at every ScaleShift, each time through
// the size handshake as the shell does it, and once more into a bitmap left from the shift
// before (a reload that skipped the resize).
//
// Input: one control byte (bit 2 HDR-to-SDR, bit 3 BT.709), the frame index as a big-endian
// 32-bit signed number, then the whole movie file.
//
// In fuzzing builds the v210 reader also knows a 48 x 16 frame of 2048 bytes beside the 4K and
// 8K ones, so that frames found by the fuzzer decode quickly; the real sizes go through the
// handshake and are decoded only where that stays cheap.
#include <cstddef>
#include <cstdint>

#include "formats/mov_atoms.h"
#include "formats/v210_reader.h"
#include "fuzz_common.h"

namespace {

constexpr size_t kHeaderBytes = 5;
constexpr uint32_t kV210BytesPerPixel = 3;  // 8/3 rounded up

bool KnownSampleSize() {
  const uint32_t sampleSize = Viewer.MovSampleSize;
  return sampleSize == 88473600 || sampleSize == 22118400 || sampleSize == 2048;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  fuzz::StartRun(data[0] & ~3, 64, 32);
  const int32_t frame = int32_t(uint32_t(data[1]) << 24 | uint32_t(data[2]) << 16 |
                                uint32_t(data[3]) << 8 | uint32_t(data[4]));
  if (!fuzz::SetPath(
          fuzz::WriteScratchFile("movie.mov", data + kHeaderBytes, size - kHeaderBytes))) {
    return 0;
  }

  const int32_t count = ScanMovAtoms();
  if (Viewer.MovRowBuffer == nullptr) fuzz::Broken("the scan left no row buffer");
  if (count != 0 && count != Viewer.MovSampleCount) fuzz::Broken("result is not the count");
  // LoadFrame refuses a movie without frames before any reader runs.
  if (count <= 0) return 0;

  Viewer.CurrentFrame = frame;
  for (int32_t shift = 0; shift <= 3; ++shift) {
    Viewer.ScaleShift = shift;
    const int32_t width = Viewer.SourceWidth;
    const int32_t height = Viewer.SourceHeight;
    const bool stale = FrameBufferNeedsRefit();
    const int32_t first = fuzz::Checked(ReadMovFrame());
    const bool resized = Viewer.SourceWidth != width || Viewer.SourceHeight != height;
    if (first != 0 && resized) fuzz::Broken("a refused frame changed the source size");
    if (first == 0 && stale && !resized) fuzz::Broken("decoded into a stale bitmap");
    if (resized || stale) {
      if (!fuzz::Refit(kV210BytesPerPixel)) continue;
      const int32_t second = fuzz::Checked(ReadMovFrame());
      if (FrameBufferNeedsRefit()) fuzz::Broken("second call changed the size again");
      if (second != 0 && frame >= 0 && KnownSampleSize()) {
        fuzz::Broken("second call after the resize failed");
      }
    }
  }
  return 0;
}
