// Characters of the file calls' code page, for splitting names: where Windows keeps a double-byte
// code page, a character's second byte may look like "\" or a letter.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether byte begins a two-byte character. Never on posix, whose names are UTF-8.
bool PlatformIsLeadByte(uint8_t byte);

// Tests put a double-byte code page's rule in place of the system's; null gives it back.
using PlatformLeadByteRule = bool (*)(uint8_t byte);
void PlatformSetLeadByteRule(PlatformLeadByteRule rule);

// Bytes the character at c takes; a lead byte just before the terminator stands alone.
inline size_t PlatformCharLength(const char* c) {
  return PlatformIsLeadByte(uint8_t(*c)) && c[1] != '\0' ? 2 : 1;
}

// Both separators end the folder part: a path written with "/" must not make a load read a file
// of the working folder, and posix paths have nothing else.
inline bool PlatformIsSeparator(char c) {
  return c == '\\' || c == '/';
}
