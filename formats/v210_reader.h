// The movie frame reader: one uncompressed v210 frame into the FrameBuffer.
#pragma once

#include <cstdint>

// Decodes frame CurrentFrame of the open movie (facts from ScanMovAtoms) into the FrameBuffer.
// 0 when decoded, and also when the frame's size only became the new source size; -1 when a
// movie without a frame offset table has a sample size that names no known frame size, the frame
// index names no frame, the bitmap was not built for the source size, or the file cannot be
// opened. Rows the file does not hold show black.
int32_t ReadMovFrame();
