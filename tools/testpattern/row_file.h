// A test file as head bytes, then rows made one at a time, then tail bytes: an 8K frame (199 MB
// of DPX) goes to disk without ever being held whole, and the first rows of the same file can
// be had in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/testpattern/bytes.h"

// Fills the row's bytes with row `row`; called for rows 0, 1, 2 ... in turn.
using RowFiller = std::function<void(uint64_t row, uint8_t* out)>;

struct RowFile {
  Bytes Head;
  uint64_t RowCount = 0;
  size_t RowBytes = 0;
  RowFiller FillRow;
  Bytes Tail;

  uint64_t Size() const { return Head.size() + RowCount * RowBytes + Tail.size(); }
};

// Writes the file; false, after saying on stderr which file failed, when it can't.
bool WriteRowFile(const std::string& path, const RowFile& file);

// The first `limit` bytes of the file (all of it by default), made only as far as needed.
Bytes RowFileBytes(const RowFile& file, size_t limit = SIZE_MAX);
