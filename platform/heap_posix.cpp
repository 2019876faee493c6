#include "platform/heap.h"

#include <cstdlib>

void* PlatformAllocZeroed(size_t n) {
  return std::calloc(n == 0 ? 1 : n, 1);
}

void PlatformFree(void* block) {
  std::free(block);
}
