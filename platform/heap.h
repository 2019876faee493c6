// Zero-filled blocks from the process heap.
#pragma once

#include <cstddef>

// A zero-filled block of n bytes, or null when the heap cannot give it.
void* PlatformAllocZeroed(size_t n);
// Returns a block from PlatformAllocZeroed to the heap; null is ignored.
void PlatformFree(void* block);
