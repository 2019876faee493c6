#pragma once
#include <cstdint>

// Loads the DPX frame named by the path into the FrameBuffer, or records another size (0, the
// caller rebuilds the bitmap and loads again); -1 when it cannot be opened or shown.
int32_t ReadDpxFrame();
