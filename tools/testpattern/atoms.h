// QuickTime atoms: a big-endian size (32 bits, or 1 and then 64 bits after the type), a
// four-byte type, the payload. Whole atoms are joined from parts for small and hostile movies;
// AtomBuilder writes nested ones field by field for real ones.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "tools/testpattern/bytes.h"

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A header with any 32-bit size, right or wrong, and no payload.
inline Bytes AtomHeader(uint32_t size, const char* type) {
  Bytes b(8);
  PutBigEndian32(&b[0], size);
  std::memcpy(&b[4], type, 4);
  return b;
}

// Size 1, then the 64-bit size (high word, low word) after the type.
inline Bytes ExtendedAtomHeader(uint64_t size, const char* type) {
  Bytes b = AtomHeader(1, type);
  PutBigEndian32(b, 8, uint32_t(size >> 32));
  PutBigEndian32(b, 12, uint32_t(size));
  return b;
}

inline Bytes Atom(const char* type, const Bytes& payload) {
  return Join({AtomHeader(uint32_t(8 + payload.size()), type), payload});
}
inline Bytes ExtendedAtom(const char* type, const Bytes& payload) {
  return Join({ExtendedAtomHeader(16 + payload.size(), type), payload});
}

// Overwrites the 32-bit field `at` bytes into the body of the first atom of the type (-8: its
// size, -4: its type), for the near misses of a good movie: a wrong count, size or offset.
inline void PatchAtomField(Bytes& b, const char* type, int32_t at, uint32_t value) {
  const auto found = std::search(b.begin(), b.end(), type, type + 4);
  if (found != b.end()) PutBigEndian32(b, size_t((found - b.begin()) + 4 + at), value);
}

// Nested atoms field by field; each End writes the size of the atom its Begin opened.
class AtomBuilder {
 public:
  void Begin(const char* type) {
    OpenStarts.push_back(Data.size());
    Append(AtomHeader(0, type));
  }
  void End() {
    PutBigEndian32(&Data[OpenStarts.back()], uint32_t(Data.size() - OpenStarts.back()));
    OpenStarts.pop_back();
  }
  void U8(uint8_t v) { Data.push_back(v); }
  void U16(uint16_t v) { PutBigEndian16(Data, Data.size(), v); }
  void U32(uint32_t v) { PutBigEndian32(Data, Data.size(), v); }
  void Type(const char* fourcc) { Data.insert(Data.end(), fourcc, fourcc + 4); }
  void Zeros(size_t n) { Data.insert(Data.end(), n, 0); }
  void Append(const Bytes& b) { Data.insert(Data.end(), b.begin(), b.end()); }
  // A Pascal string padded with zeros to room bytes (room 0: no padding).
  void Pascal(const char* text, size_t room) {
    const size_t n = std::strlen(text);
    U8(uint8_t(n));
    Data.insert(Data.end(), text, text + n);
    if (room > n + 1) Zeros(room - n - 1);
  }
  // The unity transformation matrix of movie and track headers.
  void Matrix() {
    for (uint32_t v : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) U32(v);
  }
  const Bytes& Result() const { return Data; }

 private:
  Bytes Data;
  std::vector<size_t> OpenStarts;
};
