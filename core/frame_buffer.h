// The display bitmap: rebuilt from the source size and ScaleShift, filled by the readers.
#pragma once

#include <cstdint>

// Replaces the pixel buffer with a black one of (SourceWidth >> ScaleShift) x
// (SourceHeight >> ScaleShift) pixels and rewrites the header; allocates the ReadBuffer on the
// first call. When the heap cannot give the pixels the bitmap is left 0 x 0 with no buffer.
void ResetFrameBuffer();

// Blacks out the picture, keeping its size: a frame that could not be read must not leave the
// previous one on screen under its name.
void ClearFrameBuffer();

// True when the bitmap has exactly the shifted source size and a buffer to write into: the one
// condition under which a reader may decode.
bool FrameBufferFitsSource();

// True when the shifted source size differs from the bitmap: the caller must rebuild and reload.
bool FrameBufferNeedsRefit();
