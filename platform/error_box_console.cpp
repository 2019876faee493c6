// The error box of the command-line tools and the tests: a line on stderr, where a modal box
// would wait for a user who is not there.
#include "platform/error_box.h"

#include <cstdio>

// The reason has a line of its own: no blank one between, as a tool's errors read.
void PlatformShowError(const char* message, const char* reason) {
  std::fprintf(stderr, "Error: %s\n", message);
  if (reason[0] != '\0') std::fprintf(stderr, "%s\n", reason);
}
