#include "tools/testpattern/row_file.h"

#include <cstdio>

namespace {

bool Put(std::FILE* out, const uint8_t* data, size_t n) {
  return n == 0 || std::fwrite(data, 1, n, out) == n;
}

}  // namespace

bool WriteRowFile(const std::string& path, const RowFile& file) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "Can't create %s\n", path.c_str());
    return false;
  }
  // A large buffer: a frame goes out row by row without a system call per row.
  std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
  bool ok = Put(out, file.Head.data(), file.Head.size());
  Bytes row(file.RowBytes);
  for (uint64_t r = 0; ok && r < file.RowCount; ++r) {
    file.FillRow(r, row.data());
    ok = Put(out, row.data(), row.size());
  }
  ok = ok && Put(out, file.Tail.data(), file.Tail.size());
  if (std::fclose(out) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "Can't write %s\n", path.c_str());
  return ok;
}

Bytes RowFileBytes(const RowFile& file, size_t limit) {
  Bytes bytes = file.Head;
  for (uint64_t r = 0; bytes.size() < limit && r < file.RowCount; ++r) {
    bytes.resize(bytes.size() + file.RowBytes);
    file.FillRow(r, bytes.data() + bytes.size() - file.RowBytes);
  }
  bytes.insert(bytes.end(), file.Tail.begin(), file.Tail.end());
  if (bytes.size() > limit) bytes.resize(limit);
  return bytes;
}
