// Files built in code for the unit tests, in a fresh folder per test, and opening them as the
// shell does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "sequence/sequence.h"
#include "tools/testpattern/atoms.h"
#include "tools/testpattern/dpx_file.h"

// A fresh, empty folder under the system's temporary folder, removed again with the object.
class TestDir {
 public:
  TestDir() {
    static int serial = 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    Path = std::filesystem::temp_directory_path() /
           ("zelkora-test-" + std::to_string(now) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(Path);
  }
  ~TestDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  // Full path of a name in the folder, with the platform's own separator.
  std::string operator/(const std::string& name) const { return (Path / name).string(); }
  const std::filesystem::path& path() const { return Path; }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(*this / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return *this / name;
  }

 private:
  std::filesystem::path Path;
};

// Pixel (x, y) of the bitmap, y counted from the top of the picture: B, G, R, fourth byte.
inline const uint8_t* BitmapPixel(int32_t x, int32_t yFromTop) {
  const int32_t w = Viewer.FrameInfo.bmiHeader.biWidth;
  const int32_t h = Viewer.FrameInfo.bmiHeader.biHeight;
  return Viewer.FramePixels + (size_t(h - 1 - yFromTop) * size_t(w) + size_t(x)) * 4;
}

constexpr uint32_t k4kSampleSize = 22118400;
constexpr uint32_t k8kSampleSize = 88473600;
constexpr uint8_t kMark = 0xA5;  // every bitmap byte before a load, so that any write shows

inline size_t BitmapBytes() {
  const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
  return Viewer.FramePixels == nullptr ? 0 : size_t(h.biWidth) * size_t(h.biHeight) * 4;
}
inline void FillBitmap(uint8_t value) {
  if (BitmapBytes() != 0) std::memset(Viewer.FramePixels, value, BitmapBytes());
}
inline bool BitmapIsAll(uint8_t value) {
  const uint8_t* p = Viewer.FramePixels;  // every byte equal to the one after it, and the first
  return BitmapBytes() == 0 || (p[0] == value && !std::memcmp(p, p + 1, BitmapBytes() - 1));
}

// The state after a w x h source was shown at 1 / 2^s with the given options: its bitmap marked.
inline void Prepare(int32_t w, int32_t h, int32_t s, int32_t hdrToSdr = 0, int32_t bt709 = 0) {
  Viewer.SourceWidth = w, Viewer.SourceHeight = h, Viewer.ScaleShift = s;
  Viewer.HdrToSdr = hdrToSdr, Viewer.Bt709 = bt709;
  ResetFrameBuffer();
  FillBitmap(kMark);
}

// The shell's open; returns the message the error box showed, "" when it stayed shut. Why it
// said so is Viewer.Reason.
inline std::string Open(const std::string& path) {
  testing::internal::CaptureStderr();
  OpenPath(path.c_str());
  const std::string said = testing::internal::GetCapturedStderr();  // "Error: <message>\n..."
  return said.size() < 8 ? said : said.substr(7, said.find('\n') - 7);
}

// Every bit pattern turns up, junk bits the readers must ignore included.
inline Bytes Noise(size_t n, uint32_t seed) {
  Bytes b(n);
  for (uint8_t& v : b) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
  return b;
}

// v210 bytes of one grey: Y (10 bits) in every pixel, Cb and Cr 512; Y 64 is black.
inline Bytes V210Grey(uint32_t y, size_t bytes) {
  const uint32_t words[2] = {512 | y << 10 | 512 << 20, y | 512 << 10 | y << 20};
  Bytes b(bytes);
  for (size_t i = 0; i < bytes; ++i) b[i] = uint8_t(words[i / 4 % 2] >> (i % 4 * 8));
  return b;
}

// Version and flags, sample size, sample count, and the size of each sample when that is 0.
inline Bytes Stsz(uint32_t sampleSize, uint32_t count) {
  Bytes body(12);
  PutBigEndian32(body, 4, sampleSize);
  PutBigEndian32(body, 8, count);
  for (uint32_t i = 0; sampleSize == 0 && i < count; ++i) PutBigEndian32(body, body.size(), 99);
  return Atom("stsz", body);
}

// moov / trak / mdia / minf / stbl, with atoms beside each that the walk must pass over.
inline Bytes Moov(std::initializer_list<Bytes> sampleTables, const char* type = "moov") {
  Bytes tracks;
  for (const Bytes& stsz : sampleTables) {
    const Bytes stbl = Atom("stbl", Join({Atom("stsd", Bytes(24)), stsz, Atom("stco", Bytes(8))}));
    const Bytes minf = Atom("minf", Join({Atom("vmhd", Bytes(12)), stbl}));
    const Bytes mdia = Atom("mdia", Join({Atom("mdhd", Bytes(24)), minf}));
    tracks = Join({tracks, Atom("trak", Join({Atom("tkhd", Bytes(84)), mdia}))});
  }
  return Atom(type, Join({Atom("mvhd", Bytes(100)), tracks}));
}

// A file of `size` bytes holding the pieces at their offsets, holes (zeros) between them: sparse
// where the file system allows, so frames beyond 4 GiB cost a few small writes.
inline std::string WriteSparse(const std::string& path, uint64_t size,
                               const std::vector<std::pair<uint64_t, Bytes>>& pieces) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  uint64_t end = 0;
  for (const auto& piece : pieces) {
    out.seekp(std::streamoff(piece.first));
    out.write(reinterpret_cast<const char*>(piece.second.data()),
              std::streamsize(piece.second.size()));
    end = std::max(end, piece.first + piece.second.size());
  }
  if (size > end) out.seekp(std::streamoff(size - 1)).put(char(0));  // a hole at the end too
  return path;
}
