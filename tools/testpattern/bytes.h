// Numbers into file bytes, for every test file: planar words are big-endian, v210 words
// little-endian, DPX fields either, DPX rates IEEE singles.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void PutBigEndian16(uint8_t* at, uint16_t v) {
  at[0] = uint8_t(v >> 8);
  at[1] = uint8_t(v);
}
inline void PutBigEndian32(uint8_t* at, uint32_t v) {
  PutBigEndian16(at, uint16_t(v >> 16));
  PutBigEndian16(at + 2, uint16_t(v));
}
inline void PutLittleEndian16(uint8_t* at, uint16_t v) {
  at[0] = uint8_t(v);
  at[1] = uint8_t(v >> 8);
}
inline void PutLittleEndian32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}
inline void PutBigEndianFloat(uint8_t* at, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutBigEndian32(at, bits);
}

// At byte `at` of b, which grows to hold it: small files are built by appending at b.size().
inline void PutBigEndian16(Bytes& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  PutBigEndian16(&b[at], v);
}
inline void PutBigEndian32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  PutBigEndian32(&b[at], v);
}
