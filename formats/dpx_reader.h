#pragma once
#include <cstdint>

// Loads the DPX frame named by the path into the FrameBuffer; a frame of another size is only
// recorded as the new source size (the caller rebuilds the bitmap and loads again). 0, or -1
// when the file cannot be opened, is no DPX, holds a layout that is not read (see
// dpx_reader.cpp), or its size is beyond 7680 x 4320.
int32_t ReadDpxFrame();
