// The QuickTime atom scan: where a movie's frames lie, how big each is and how many there are.
#pragma once

#include <cstdint>

// Walks the atoms of the movie named by the path buffer and records MovDataOffset,
// MovSampleSize and MovSampleCount. Returns the frame count (the sample count of the first
// `stsz` atom), or 0 when the file cannot be opened or holds no usable `stsz` and `mdat` pair.
// Allocates the MovRowBuffer on its first call.
int32_t ScanMovAtoms();

// Allocates the MovRowBuffer when it is missing; false when the heap cannot give it.
bool EnsureMovRowBuffer();
