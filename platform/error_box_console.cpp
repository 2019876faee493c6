// The error box of the command-line tools and the tests: a line on stderr, where a modal box
// would wait for a user who is not there.
#include "platform/error_box.h"

#include <cstdio>

void PlatformShowError(const char* message) {
  std::fprintf(stderr, "Error: %s\n", message);
}
