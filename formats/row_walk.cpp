#include "formats/row_walk.h"

#include "core/frame_buffer.h"

const MissingRowBytes kZeroRowBytes = {};

namespace {

// Bytes [from, to) of a row from the 16-byte pattern that repeats from the row's start; whole
// blocks in one store each, as a row cut short early is mostly filled.
void FillMissing(uint8_t* row, uint32_t from, uint32_t to, const uint8_t* pattern) {
  uint32_t i = from;
  for (; i < to && (i & 15) != 0; ++i) row[i] = pattern[i & 15];
  for (; i + 16 <= to; i += 16) std::memcpy(row + i, pattern, 16);
  for (; i < to; ++i) row[i] = pattern[i & 15];
}

}  // namespace

bool BeginRowWalk(RowWalk& walk, const PlatformFile* files, int32_t fileCount, int64_t firstRow,
                  uint32_t rowBytes, uint8_t* rowBuffer, uint32_t bufferBytes,
                  const MissingRowBytes& missing, const RowOrder& order) {
  const int32_t shift = Viewer.ScaleShift;
  const int32_t width = Viewer.SourceWidth;
  const int32_t height = Viewer.SourceHeight;
  const int32_t columns = width > 0 ? width >> shift : 0;
  const int32_t bitmapRows = height > 0 ? height >> shift : 0;

  walk = RowWalk{};
  if (fileCount < 1 || fileCount > kMaxRowWalkFiles) return false;
  walk.FileCount = fileCount;
  for (int32_t k = 0; k < fileCount; ++k) walk.Files[k] = files[k];
  walk.Rows = rowBuffer;
  walk.Missing = &missing;
  walk.Width = width;
  walk.Step = int32_t(1) << shift;
  walk.Shift = shift;
  walk.Columns = columns;
  walk.NextRow = -1;
  walk.Mirrored = order.Mirrored;
  // Nothing to show (a width or height of 0, or below 2^s): no write, so no guard is needed.
  if (columns == 0 || bitmapRows == 0) return true;

  // The decode guard: a bitmap of another size (a reload without the resize after a source
  // size change) would be written out of bounds, and a row must fit its buffer whole.
  if (!FrameBufferFitsSource() || rowBuffer == nullptr) return false;
  if (uint64_t(rowBytes) * uint64_t(fileCount) > bufferBytes) return false;
  walk.RowBytes = rowBytes;
  walk.RowStride = int64_t(rowBytes) + int64_t(order.Padding);

  // The topmost shown row is the highest multiple of 2^s that still lands inside the bitmap;
  // top first, the file rows above it are passed over before the first read. Bottom first, the
  // first file row is g = 0, always shown, and the walk ends at the topmost.
  walk.TopRow = (bitmapRows - 1) << shift;
  walk.NextRow = order.BottomUp ? 0 : walk.TopRow;
  walk.RowAdvance = order.BottomUp ? walk.Step : -walk.Step;
  walk.PendingSkip = order.BottomUp ? 0 : int64_t(height - 1 - walk.TopRow) * walk.RowStride;
  walk.Located = true;
  for (int32_t k = 0; k < fileCount; ++k) {
    if (PlatformSeekFile(files[k], firstRow, SeekFromStart) != firstRow) walk.Located = false;
  }
  return true;
}

uint8_t* ReadNextShownRow(RowWalk& walk) {
  if (walk.NextRow < 0) return nullptr;
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
  }
  uint8_t* destination =
      Viewer.FramePixels + size_t(walk.NextRow >> walk.Shift) * size_t(walk.Columns) * 4;
  walk.NextRow += walk.RowAdvance;
  if (walk.NextRow > walk.TopRow) walk.NextRow = -1;
  // The padding after the row just read, then the rows not shown.
  walk.PendingSkip = (walk.RowStride - walk.RowBytes) + int64_t(walk.Step - 1) * walk.RowStride;
  return destination;
}
