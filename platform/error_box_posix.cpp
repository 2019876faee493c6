#include "platform/error_box.h"

#include <cstdio>

void PlatformShowError(const char* message) {
  std::fprintf(stderr, "Error: %s\n", message);
}
