#include "core/frame_status.h"

#include <cstring>

namespace {

// Appends text to the terminated string in out, cutting it where out is full.
void Append(char* out, size_t size, const char* text, size_t length) {
  const size_t used = std::strlen(out);
  if (used + 1 >= size) return;
  if (length > size - 1 - used) length = size - 1 - used;
  std::memcpy(out + used, text, length);
  out[used + length] = '\0';
}

void Append(char* out, size_t size, const char* text) {
  Append(out, size, text, std::strlen(text));
}

}  // namespace

void FormatNameStatus(char* out, size_t size, const char* name, bool unreadable, const char* reason,
                      int32_t reasonFact) {
  if (size == 0) return;
  out[0] = '\0';
  Append(out, size, name);
  if (!unreadable) return;
  Append(out, size, " - unreadable");
  const size_t reasonLength = std::strlen(reason);
  if (reasonLength == 0) return;
  Append(out, size, ": ");
  // The reason's file is the text before its fact, less the ": " that ends it.
  size_t fact = reasonFact < 0 ? 0 : size_t(reasonFact);
  if (fact > reasonLength) fact = 0;
  size_t fileEnd = fact;
  if (fileEnd >= 2 && std::strncmp(reason + fileEnd - 2, ": ", 2) == 0) fileEnd -= 2;
  const bool sameFile = fileEnd == std::strlen(name) && std::strncmp(reason, name, fileEnd) == 0;
  Append(out, size, sameFile ? reason + fact : reason);
}
