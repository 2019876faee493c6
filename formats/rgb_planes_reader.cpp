// Planar R/G/B frames: three headerless files of 16-bit big-endian samples, one per plane, the
// size named by the file name (docs/frame-layouts.md).
#include "formats/rgb_planes_reader.h"

#include "formats/planar_row.h"

namespace {

constexpr int32_t kPlaneCount = 3;
constexpr char kPlaneLetters[kPlaneCount] = {'r', 'g', 'b'};  // the open and read order
const char* const kPlaneColours[kPlaneCount] = {"red", "green", "blue"};

struct NamedSize {
  char Character;
  int32_t Width;
  int32_t Height;
};
constexpr NamedSize kNamedSizes[] = {{'4', kFrame4KWidth, kFrame4KHeight},
                                     {'8', kFrame8KWidth, kFrame8KHeight}};

}  // namespace

int32_t ReadRgbPlanesFrame() {
  char* const path = Viewer.Path;
  const size_t length = strnlen(path, sizeof Viewer.Path);
  if (length < 4 || path[length - 3] != 'K') return SetReason(kReasonPlanarNoSize, path), -1;

  // The size handshake, from the name alone: no file is opened for a size change, so missing
  // planes only show on the second call.
  const char sizeCharacter = path[length - 4];
  for (const NamedSize& named : kNamedSizes) {
    if (sizeCharacter == named.Character &&
        (Viewer.SourceWidth != named.Width || Viewer.SourceHeight != named.Height)) {
      Viewer.SourceWidth = named.Width;
      Viewer.SourceHeight = named.Height;
      return 0;
    }
  }

  // Whichever plane the list names, all three are read: R from "r", G from "g", B from "b".
  // The path names the last plane tried, as the status bar shows it.
  FrameRows rows = {};
  for (int32_t k = 0; k < kPlaneCount; ++k) {
    path[length - 1] = kPlaneLetters[k];
    rows.Files[k] = PlatformOpenFile(path);
    if (rows.Files[k] == nullptr) {
      SetReason(kReasonPlaneMissing, path, kPlaneColours[k]);
      while (k-- > 0) PlatformCloseFile(rows.Files[k]);  // most recent first
      return -1;
    }
  }
  // The three planes in step: a request for each plane's part of every chunk of rows.
  rows.FileCount = kPlaneCount;
  rows.RowBytes = uint32_t(Viewer.SourceWidth) * kPlanarBytesPerSample;
  rows.Missing = &kZeroRowBytes;
  const int32_t result =
      UseSse2Kernels ? DecodePlanarFrameSse2(rows) : DecodeFrame<PlanarRow>(rows);
  for (PlatformFile plane : rows.Files) PlatformCloseFile(plane);
  return result;
}
