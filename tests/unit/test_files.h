// Small files built in code for the reader and sequence tests, in a fresh folder per test.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/viewer_state.h"
#include "tools/testpattern/bytes.h"

// A fresh, empty folder under the system's temporary folder, removed again with the object.
class TestDir {
 public:
  TestDir() {
    static int serial = 0;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("zelkora-test-" + std::to_string(Stamp()) + "-" + std::to_string(serial++));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TestDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  // Full path of a name in the folder, with the platform's own separator.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string full = *this / name;
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return full;
  }

 private:
  static unsigned long long Stamp() {
    return static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
  }
  std::filesystem::path path_;
};

// Pixel (x, y) of the bitmap, y counted from the top of the picture: B, G, R, fourth byte.
inline const uint8_t* BitmapPixel(int32_t x, int32_t yFromTop) {
  const int32_t w = Viewer.FrameInfo.bmiHeader.biWidth;
  const int32_t h = Viewer.FrameInfo.bmiHeader.biHeight;
  return Viewer.FramePixels + (size_t(h - 1 - yFromTop) * size_t(w) + size_t(x)) * 4;
}
