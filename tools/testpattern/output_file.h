// Byte packing and a buffered output file for the pattern writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using ByteVector = std::vector<uint8_t>;

inline void PutBigEndian16(uint8_t* at, uint16_t v) {
  at[0] = uint8_t(v >> 8);
  at[1] = uint8_t(v);
}
inline void PutBigEndian32(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v >> 24);
  at[1] = uint8_t(v >> 16);
  at[2] = uint8_t(v >> 8);
  at[3] = uint8_t(v);
}
inline void PutLittleEndian32(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v);
  at[1] = uint8_t(v >> 8);
  at[2] = uint8_t(v >> 16);
  at[3] = uint8_t(v >> 24);
}
// IEEE single, as DPX stores its rates and aspect values.
inline void PutBigEndianFloat(uint8_t* at, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutBigEndian32(at, bits);
}

// A file opened for writing with a large buffer: a frame goes out row by row without a
// system call per row. Errors are sticky and reported by Close.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }

  void Write(const void* data, size_t n) {
    if (file_ != nullptr && ok_ && std::fwrite(data, 1, n, file_) != n) ok_ = false;
  }
  void Write(const ByteVector& bytes) { Write(bytes.data(), bytes.size()); }

  // True when every byte reached the file.
  bool Close() {
    if (file_ == nullptr) return false;
    if (std::fclose(file_) != 0) ok_ = false;
    file_ = nullptr;
    return ok_;
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool ok_ = true;
};
