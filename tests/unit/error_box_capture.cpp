// The unit tests replace the error box with a recorder: a real box would wait for a user.
#include "tests/unit/error_box_capture.h"

#include "platform/error_box.h"

std::vector<std::string> ShownErrors;

void PlatformShowError(const char* message) {
  ShownErrors.emplace_back(message);
}
