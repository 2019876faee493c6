#include "core/viewer_state.h"

#include <cstring>

#include "platform/heap.h"

ViewerState Viewer;

void ResetViewerState() {
  PlatformFree(Viewer.FramePixels);
  PlatformFree(Viewer.ReadBuffer);
  PlatformFree(Viewer.MovRowBuffer);
  PlatformFree(Viewer.MovFrameOffsets);
  PlatformFree(Viewer.FrameList);
  std::memset(&Viewer, 0, sizeof Viewer);
  Viewer.SourceWidth = kDefaultSourceWidth;
  Viewer.SourceHeight = kDefaultSourceHeight;
  Viewer.ScaleShift = kDefaultScaleShift;
  Viewer.Kind = Unknown;
}
