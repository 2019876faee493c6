#include "formats/row_walk.h"

#include <cstddef>
#include <cstring>

#include "core/frame_buffer.h"
#include "core/viewer_state.h"

bool BeginRowWalk(RowWalk& walk, const PlatformFile* files, int32_t fileCount,
                  uint32_t bytesPerPixel) {
  const int32_t shift = Viewer.ScaleShift;
  const int32_t width = Viewer.SourceWidth;
  const int32_t height = Viewer.SourceHeight;
  const int32_t columns = width > 0 ? width >> shift : 0;
  const int32_t bitmapRows = height > 0 ? height >> shift : 0;

  walk = RowWalk{};
  if (fileCount < 1 || fileCount > kMaxRowWalkFiles) return false;
  walk.FileCount = fileCount;
  for (int32_t k = 0; k < fileCount; ++k) walk.Files[k] = files[k];
  walk.Step = int32_t(1) << shift;
  walk.Shift = shift;
  walk.Columns = columns;
  walk.NextRow = -1;
  // Nothing to show (a width or height of 0, or below 2^s): no write, so no guard is needed.
  if (columns == 0 || bitmapRows == 0) return true;

  // The decode guard: a bitmap of another size (a reload without the resize after a source
  // size change) would be written out of bounds, and a row must fit the ReadBuffer whole.
  if (!FrameBufferFitsSource()) return false;
  const uint64_t rowBytes = uint64_t(width) * bytesPerPixel;
  if (rowBytes * uint64_t(fileCount) > uint64_t(kReadBufferSize)) return false;
  walk.RowBytes = uint32_t(rowBytes);

  // The topmost shown row is the highest multiple of 2^s that still lands inside the bitmap;
  // the file rows above it are passed over before the first read.
  walk.NextRow = (bitmapRows - 1) << shift;
  walk.PendingSkip = int64_t(height - 1 - walk.NextRow) * int64_t(rowBytes);
  return true;
}

uint8_t* ReadNextShownRow(RowWalk& walk) {
  if (walk.NextRow < 0) return nullptr;
  uint8_t* buffer = Viewer.ReadBuffer;
  for (int32_t k = 0; k < walk.FileCount; ++k) {
    // One relative seek over the whole run of rows not shown: a view at 1/8 reads one row in
    // eight and never touches the other seven.
    if (walk.PendingSkip != 0) PlatformSeekFile(walk.Files[k], walk.PendingSkip, SeekFromCurrent);
    uint8_t* row = buffer + size_t(k) * walk.RowBytes;
    const uint32_t got = PlatformReadFile(walk.Files[k], row, walk.RowBytes);
    // A file that ends early shows black there, not what an earlier row left in the buffer.
    if (got < walk.RowBytes) std::memset(row + got, 0, walk.RowBytes - got);
  }
  uint8_t* destination =
      Viewer.FramePixels + size_t(walk.NextRow >> walk.Shift) * size_t(walk.Columns) * 4;
  walk.NextRow -= walk.Step;
  walk.PendingSkip = int64_t(walk.Step - 1) * int64_t(walk.RowBytes);
  return destination;
}
