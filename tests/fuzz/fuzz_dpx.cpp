// DPX frames as LoadFrame meets them: the first call may only record a new size, the shell then
// rebuilds the bitmap and the second call decodes.
//
// Input: one control byte, then the whole DPX file.
//   control bits 0-1  ScaleShift
//           bit 2, 3  HDR-to-SDR, BT.709
//           bit 4     afterwards, change the ScaleShift without rebuilding the bitmap and load
//                     again, as a reload that skipped the resize would
//           bits 5-7  the size shown before this file (all small, so that a file of that size
//                     decodes on the first call)
#include <cstddef>
#include <cstdint>

#include "formats/dpx_reader.h"
#include "fuzz_common.h"

namespace {

struct Size {
  int32_t width, height;
};
constexpr Size kPreviousSizes[8] = {{64, 32}, {48, 16},  {0, 0},    {7, 5},
                                    {1, 1},   {7680, 2}, {3, 4320}, {33, 17}};
constexpr uint32_t kDpxBytesPerPixel = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const Size previous = kPreviousSizes[control >> 5];
  fuzz::StartRun(control, previous.width, previous.height);
  if (!fuzz::SetPath(fuzz::WriteScratchFile("frame.dpx", data + 1, size - 1))) return 0;

  const int32_t first = fuzz::Checked(ReadDpxFrame());
  const bool resized =
      Viewer.SourceWidth != previous.width || Viewer.SourceHeight != previous.height;
  if (first != 0 && resized) fuzz::Broken("a refused file changed the source size");
  if (first == 0 && resized) {
    if (!fuzz::Refit(kDpxBytesPerPixel)) return 0;
    const int32_t width = Viewer.SourceWidth;
    const int32_t height = Viewer.SourceHeight;
    if (fuzz::Checked(ReadDpxFrame()) != 0) fuzz::Broken("second call after the resize failed");
    if (Viewer.SourceWidth != width || Viewer.SourceHeight != height) {
      fuzz::Broken("second call changed the size again");
    }
  }

  if ((control & 0x10) != 0) {
    Viewer.ScaleShift = (Viewer.ScaleShift + 1) & 3;
    const bool stale = FrameBufferNeedsRefit() && (Viewer.SourceWidth >> Viewer.ScaleShift) > 0 &&
                       (Viewer.SourceHeight >> Viewer.ScaleShift) > 0;
    if (fuzz::Checked(ReadDpxFrame()) == 0 && stale) fuzz::Broken("decoded into a stale bitmap");
  }
  return 0;
}
