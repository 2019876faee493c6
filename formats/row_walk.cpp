#include "formats/row_walk.h"

#include "core/frame_buffer.h"

const MissingRowBytes kZeroRowBytes = {};

namespace {

int32_t MissingRowsOfLastFrame = 0;

// Bytes [from, to) of a row from the 16-byte pattern that repeats from the row's start; whole
// blocks in one store each, as a row cut short early is mostly filled.
void FillMissing(uint8_t* row, uint32_t from, uint32_t to, const uint8_t* pattern) {
  uint32_t i = from;
  for (; i < to && (i & 15) != 0; ++i) row[i] = pattern[i & 15];
  for (; i + 16 <= to; i += 16) std::memcpy(row + i, pattern, 16);
  for (; i < to; ++i) row[i] = pattern[i & 15];
}

}  // namespace

int32_t LastFrameMissingRows() {
  return MissingRowsOfLastFrame;
}

void SetLastFrameMissingRows(int32_t rows) {
  MissingRowsOfLastFrame = rows;
}

bool FrameRowsFit(const FrameRows& rows) {
  const int32_t shift = Viewer.ScaleShift;
  const bool empty = (Viewer.SourceWidth >> shift) <= 0 || (Viewer.SourceHeight >> shift) <= 0;
  if (empty) return true;
  // A bitmap of another size (a reload without the resize after a source size change) would be
  // written out of bounds, and a row must fit its buffer whole.
  return FrameBufferFitsSource() && rows.RowBuffers != nullptr && rows.FileCount >= 1 &&
         rows.FileCount <= kMaxRowWalkFiles &&
         uint64_t(rows.RowBytes) * uint64_t(rows.FileCount) <= rows.BufferBytes;
}

int32_t FrameBandCount() {
  const int32_t bitmapRows = Viewer.SourceHeight > 0 ? Viewer.SourceHeight >> Viewer.ScaleShift : 0;
  const int32_t workers = PlatformWorkerCount();
  return bitmapRows < 1 ? 1 : workers < bitmapRows ? workers : bitmapRows;
}

void BeginRowWalk(RowWalk& walk, const FrameRows& rows, const PlatformFile* files, int32_t band,
                  int32_t bands) {
  const int32_t shift = Viewer.ScaleShift;
  const int32_t width = Viewer.SourceWidth;
  const int32_t height = Viewer.SourceHeight;
  const int32_t columns = width > 0 ? width >> shift : 0;
  const int32_t bitmapRows = height > 0 ? height >> shift : 0;

  walk = RowWalk{};
  walk.FileCount = rows.FileCount;
  for (int32_t k = 0; k < rows.FileCount; ++k) walk.Files[k] = files[k];
  walk.Rows = rows.RowBuffers + size_t(band) * rows.BufferBytes;
  walk.Missing = rows.Missing;
  walk.Width = width;
  walk.Step = int32_t(1) << shift;
  walk.Shift = shift;
  walk.Columns = columns;
  walk.Mirrored = rows.Order.Mirrored;
  walk.RowBytes = rows.RowBytes;
  walk.RowStride = int64_t(rows.RowBytes) + int64_t(rows.Order.Padding);

  // The band's bitmap rows [low, high). Bitmap row i shows number g = i << s: top first it is
  // file row H - 1 - g and the walk runs down from high - 1; bottom first it is file row g and
  // the walk runs up from low.
  const int32_t low = int32_t(int64_t(bitmapRows) * band / bands);
  const int32_t high = int32_t(int64_t(bitmapRows) * (band + 1) / bands);
  if (columns == 0 || low >= high) {
    walk.NextRow = walk.EndRow = 0;  // nothing to show: the walk yields no row
    return;
  }
  const bool bottomUp = rows.Order.BottomUp;
  walk.NextRow = bottomUp ? low : high - 1;
  walk.EndRow = bottomUp ? high : low - 1;
  walk.RowAdvance = bottomUp ? 1 : -1;
  const int64_t firstFileRow =
      bottomUp ? int64_t(low) << shift : int64_t(height) - 1 - (int64_t(high - 1) << shift);
  const int64_t start = rows.FirstRow + firstFileRow * walk.RowStride;
  walk.Located = true;
  for (int32_t k = 0; k < rows.FileCount; ++k) {
    if (files[k] == nullptr || PlatformSeekFile(files[k], start, SeekFromStart) != start) {
      walk.Located = false;
    }
  }
}

uint8_t* ReadNextShownRow(RowWalk& walk) {
  if (walk.NextRow == walk.EndRow) return nullptr;
  bool missing = false;
  for (int32_t k = 0; k < walk.FileCount; ++k) {
    uint8_t* row = walk.Rows + size_t(k) * walk.RowBytes;
    uint32_t got = 0;
    if (walk.Located) {
      // One relative seek over the whole run of rows not shown: a view at 1/8 reads one row in
      // eight and never touches the other seven.
      if (walk.PendingSkip != 0) {
        PlatformSeekFile(walk.Files[k], walk.PendingSkip, SeekFromCurrent);
      }
      got = PlatformReadFile(walk.Files[k], row, walk.RowBytes);
    }
    FillMissing(row, got, walk.RowBytes, walk.Missing->Bytes);
    missing = missing || got < walk.RowBytes;
  }
  walk.MissingRows += missing ? 1 : 0;
  uint8_t* destination = Viewer.FramePixels + size_t(walk.NextRow) * size_t(walk.Columns) * 4;
  walk.NextRow += walk.RowAdvance;
  // The padding after the row just read, then the rows not shown.
  walk.PendingSkip = (walk.RowStride - walk.RowBytes) + int64_t(walk.Step - 1) * walk.RowStride;
  return destination;
}
