// The movie frame reader: one uncompressed v210 frame into the FrameBuffer.
#pragma once

#include <cstdint>

// Frame CurrentFrame of the open movie; 0 when decoded or when its size became the new source
// size, -1 (with the reason set) when it cannot be; rows the file lacks show black.
int32_t ReadMovFrame();
