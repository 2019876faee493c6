#include "platform/error_box.h"

#include <cstring>

#include <windows.h>

// No owner: the box stands on its own, and its modal loop keeps the main window's timer and
// paint messages flowing, so playback goes on behind it.
void PlatformShowError(const char* message, const char* reason) {
  char text[512];
  const size_t length = std::strlen(message);
  if (reason[0] == '\0' || length + 2 + std::strlen(reason) >= sizeof text) {
    MessageBoxA(nullptr, message, "Error", MB_OK);
    return;
  }
  std::memcpy(text, message, length);
  std::memcpy(text + length, "\n\n", 2);
  std::memcpy(text + length + 2, reason, std::strlen(reason) + 1);
  MessageBoxA(nullptr, text, "Error", MB_OK);
}
