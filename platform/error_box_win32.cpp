#include "platform/error_box.h"

#include <windows.h>

// No owner: the box stands on its own, and its modal loop keeps the main window's timer and
// paint messages flowing, so playback goes on behind it.
void PlatformShowError(const char* message) {
  MessageBoxA(nullptr, message, "Error", MB_OK);
}
