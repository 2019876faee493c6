// The QuickTime atom scan: where a movie's frames lie, how big each is and how many there are.
#pragma once

#include <cstdint>

// Walks the atoms of the movie named by the path buffer. A movie with described tracks gets
// MovWidth, MovHeight, MovSampleCount and the MovFrameOffsets table of its v210 picture track;
// the frame count is that track's sample count, or 0 when the movie is refused (no v210 picture
// track, a fragmented movie, tables that do not locate every frame whole). A movie without
// gets MovDataOffset, MovSampleSize and MovSampleCount from the first `stsz` and the `mdat`:
// their count, or 0 when the file holds no usable pair. Frees the table of the movie before, and
// allocates the MovRowBuffer on its first call.
int32_t ScanMovAtoms();

// Byte offset of frame `index` of the scanned movie; -1 when no frame can lie there.
int64_t MovFrameStart(int32_t index);

// Allocates the MovRowBuffer when it is missing; false when the heap cannot give it.
bool EnsureMovRowBuffer();
