// Characters of the code page the file calls use, for splitting names into folder, frame number
// and extension. The viewer asks Windows for UTF-8, where no byte of a character beyond ASCII
// looks like "\", "." or a digit; Windows before 10 1903 ignores that and keeps the system's,
// and in the double-byte ones (932, 936, 949, 950) a character's second byte may be 0x5C ("\")
// or a letter: the splitting must step over it.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether byte begins a two-byte character. Never on posix, whose names are UTF-8.
bool PlatformIsLeadByte(uint8_t byte);

// Tests put a double-byte code page's rule in place of the system's; null gives it back.
using PlatformLeadByteRule = bool (*)(uint8_t byte);
void PlatformSetLeadByteRule(PlatformLeadByteRule rule);

// Bytes the character at c takes: two for a double-byte character, whose second byte may look
// like "\" or a letter and must not be taken for one. A lead byte just before the terminator
// stands alone.
inline size_t PlatformCharLength(const char* c) {
  return PlatformIsLeadByte(uint8_t(*c)) && c[1] != '\0' ? 2 : 1;
}

// Both separators end the folder part: a path written with "/" must not make a load read a file
// of the working folder, and posix paths have nothing else.
inline bool PlatformIsSeparator(char c) {
  return c == '\\' || c == '/';
}
