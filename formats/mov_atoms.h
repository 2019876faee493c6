// The QuickTime atom scan: where a movie's frames lie, how big each is and how many there are.
#pragma once

#include <cstdint>

// Fills the Mov* facts of the movie named by the path buffer (the table of frame offsets when
// its tracks are described) and returns its frame count, 0 or less when it is refused. Allocates
// the MovRowBuffer on its first call.
int32_t ScanMovAtoms();

// Byte offset of frame `index` of the scanned movie; -1 when no frame can lie there.
int64_t MovFrameStart(int32_t index);

// Allocates the MovRowBuffer when it is missing; false when the heap cannot give it.
bool EnsureMovRowBuffer();
