#include "platform/heap.h"

#include <windows.h>

void* PlatformAllocZeroed(size_t n) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n);
}

void PlatformFree(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
