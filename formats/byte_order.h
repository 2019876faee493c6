// Multi-byte fields as the file layouts store them: QuickTime fields big-endian, v210 words
// little-endian, DPX fields in the order its magic number tells, planar samples big-endian.
// Both targets are little-endian: a field is one load, swapped when the file's order is big.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline uint16_t LittleEndian16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

inline uint32_t LittleEndian32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint16_t BigEndian16(const uint8_t* p) {
  return __builtin_bswap16(LittleEndian16(p));
}

inline uint32_t BigEndian32(const uint8_t* p) {
  return __builtin_bswap32(LittleEndian32(p));
}

inline uint64_t BigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

template <bool kLittleEndian>
inline uint16_t InFileOrder16(const uint8_t* p) {
  return kLittleEndian ? LittleEndian16(p) : BigEndian16(p);
}

template <bool kLittleEndian>
inline uint32_t InFileOrder32(const uint8_t* p) {
  return kLittleEndian ? LittleEndian32(p) : BigEndian32(p);
}

#if defined(__SSE2__)
inline __m128i SwapBytes16(__m128i v) {
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Four 32-bit lanes: the bytes of each 16-bit half swapped, then the halves.
inline __m128i SwapBytes32(__m128i v) {
  constexpr int kHalves = _MM_SHUFFLE(2, 3, 0, 1);
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(SwapBytes16(v), kHalves), kHalves);
}
#endif
