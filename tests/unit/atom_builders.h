// QuickTime atoms built in code for the movie tests: big-endian sizes, four-byte types.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "tests/unit/test_files.h"

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A header with any 32-bit size, right or wrong, and no payload.
inline Bytes Header(uint32_t size, const char* type) {
  Bytes b;
  PutBigEndian32(b, 0, size);
  b.insert(b.end(), type, type + 4);
  return b;
}

// Size 1, then the 64-bit size (high word, low word) after the type.
inline Bytes ExtendedHeader(uint64_t size, const char* type) {
  Bytes b = Header(1, type);
  PutBigEndian32(b, 8, uint32_t(size >> 32));
  PutBigEndian32(b, 12, uint32_t(size));
  return b;
}

inline Bytes Atom(const char* type, const Bytes& payload) {
  return Join({Header(uint32_t(8 + payload.size()), type), payload});
}
