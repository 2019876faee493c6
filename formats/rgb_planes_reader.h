#pragma once
#include <cstdint>

// Loads the planar R/G/B frame named by the path into the FrameBuffer, reading all three plane
// files whichever of them is named; a "4K" or "8K" name of another size is only recorded as the
// new source size (the caller rebuilds the bitmap and loads again). 0, or -1 when the name has
// no upper-case "K" before the extension, a plane file cannot be opened, or the bitmap was not
// sized for the frame. Leaves the path naming the last plane file it opened or tried.
int32_t ReadRgbPlanesFrame();
