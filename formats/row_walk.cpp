#include "formats/row_walk.h"

#include "core/frame_buffer.h"

const MissingRowBytes kZeroRowBytes = {};

FrameReadSettings FrameReads = kFrameReadDefaults;

namespace {

int32_t MissingRowsOfLastFrame = 0;

// Room after every row in the block: a decoder may load a word past a row's end (packed DPX).
constexpr uint32_t kRowSlack = 64;

// Bytes [from, to) of a row from the 16-byte pattern that repeats from the row's start; whole
// blocks in one store each, as a row cut short early is mostly filled.
void FillMissing(uint8_t* row, uint32_t from, uint32_t to, const uint8_t* pattern) {
  uint32_t i = from;
  for (; i < to && (i & 15) != 0; ++i) row[i] = pattern[i & 15];
  for (; i + 16 <= to; i += 16) std::memcpy(row + i, pattern, 16);
  for (; i < to; ++i) row[i] = pattern[i & 15];
}

// A request's room in the block: the bytes, the slack after them, and the aligned blocks around
// them that a read past the cache may fill.
uint32_t SlotBytesFor(uint64_t bytes) {
  const uint64_t room = bytes + kRowSlack + 2 * uint64_t(kFileReadAlignment);
  return uint32_t((room + kFileReadAlignment - 1) / kFileReadAlignment * kFileReadAlignment);
}

int32_t Clamp(int64_t v, int32_t low, int32_t high) {
  return v < low ? low : v > high ? high : int32_t(v);
}

// Shown rows of chunk c: [c * ChunkRows, end).
int32_t ChunkEnd(const FrameJob& job, int32_t chunk) {
  const int64_t end = int64_t(chunk + 1) * job.ChunkRows;
  return end < job.Shown ? int32_t(end) : job.Shown;
}

// From the start of a chunk's first row to the start of its row j.
int64_t RowInChunk(const FrameJob& job, int32_t j) {
  return int64_t(j) * job.Walk.Step * job.RowStride;
}

// Where a request of slot `slot` for file `file` goes: aligned as the reads want it.
uint8_t* SlotFile(const FrameJob& job, int32_t slot, int32_t file) {
  const uintptr_t block = reinterpret_cast<uintptr_t>(Viewer.ReadBuffer);
  const uintptr_t aligned = (block + kFileReadAlignment - 1) & ~uintptr_t(kFileReadAlignment - 1);
  return Viewer.ReadBuffer + (aligned - block) +
         (size_t(slot) * size_t(job.Rows->FileCount) + size_t(file)) * job.SlotBytes;
}

// The first byte of the chunk queued in a slot, as the read lays it out.
uint8_t* ChunkData(const FrameJob& job, int32_t slot, int32_t file) {
  const PlatformReadRequest& request = job.Requests[slot][file];
  return request.Buffer + request.Offset % kFileReadAlignment;
}

void QueueChunk(FrameJob& job, int32_t chunk) {
  const FrameRows& rows = *job.Rows;
  const int32_t slot = chunk % job.Slots;
  const int32_t count = ChunkEnd(job, chunk) - chunk * job.ChunkRows;
  const uint64_t bytes = uint64_t(RowInChunk(job, count - 1)) + rows.RowBytes;
  const uint64_t offset =
      uint64_t(rows.FirstRow) +
      uint64_t(job.FirstFileRow + int64_t(chunk) * job.ChunkRows * job.Walk.Step) *
          uint64_t(job.RowStride);
  bool cached = true;
  for (int32_t k = 0; k < rows.FileCount; ++k) {
    PlatformReadRequest& request = job.Requests[slot][k];
    // Rows beyond the largest file offset, or of no file, are missing: nothing is asked for.
    const bool reachable = rows.Files[k] != nullptr && offset <= uint64_t(INT64_MAX) - bytes;
    request.File = rows.Files[k];
    request.Offset = reachable ? int64_t(offset) : 0;
    request.Buffer = SlotFile(job, slot, k);
    request.Bytes = reachable ? uint32_t(bytes) : 0;
    request.PastCache = true;
    cached = cached && reachable && PlatformFileCached(request.File, request.Offset, request.Bytes);
  }
  // Set before the requests complete, so whoever waits for them sees it.
  job.ReadByDecoder[slot] = cached;
  for (int32_t k = 0; k < rows.FileCount; ++k) {
    if (cached) {
      PlatformCompleteUnread(&job.Requests[slot][k]);
    } else {
      PlatformQueueRead(&job.Requests[slot][k]);
    }
  }
}

// The shape of the frame last decoded, for read-ahead.
struct FrameShape {
  int32_t FileCount;
  int64_t FirstRow;
  int64_t FirstChunk;  // from the first file row to the first shown one
  int64_t ChunkStride;
  uint32_t ChunkBytes;
  int32_t Chunks;
};
FrameShape lastShape;

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
  // written out of bounds, and a row of every file must fit one slot of the block.
  return FrameBufferFitsSource() && rows.FileCount >= 1 && rows.FileCount <= kMaxRowWalkFiles &&
         uint64_t(SlotBytesFor(rows.RowBytes)) * uint64_t(rows.FileCount) + kFileReadAlignment <=
             kFrameReadBytes;
}

void StartFrameReads(FrameJob& job, const FrameRows& rows, ColourStage stage) {
  const int32_t shift = Viewer.ScaleShift;
  const int32_t width = Viewer.SourceWidth;
  const int32_t height = Viewer.SourceHeight;
  job.Rows = &rows;
  job.Stage = stage;
  job.Walk = RowWalk{};
  job.Walk.RowBytes = rows.RowBytes;
  job.Walk.Width = width;
  job.Walk.Columns = width > 0 ? width >> shift : 0;
  job.Walk.Step = int32_t(1) << shift;
  job.Walk.Shift = shift;
  job.Walk.Mirrored = rows.Order.Mirrored;
  job.RowStride = int64_t(rows.RowBytes) + int64_t(rows.Order.Padding);
  const int32_t bitmapRows = height > 0 ? height >> shift : 0;
  job.Shown = job.Walk.Columns > 0 ? bitmapRows : 0;
  // Bitmap row i shows number g = i << s: bottom first that is file row g, top first file row
  // H - 1 - g, so in file order the rows run from the highest shown number down.
  job.FirstFileRow = rows.Order.BottomUp || job.Shown == 0
                         ? 0
                         : int64_t(height) - 1 - (int64_t(job.Shown - 1) << shift);
  job.NextChunk = 0;

  // Neighbouring rows share a request when nothing lies between them but padding, or when the
  // rows between are read too; the padding is read then, never shown.
  const FrameReadSettings& settings = FrameReads;
  const bool together = job.Walk.Step == 1 || settings.ReadGaps;
  const int64_t apart = int64_t(job.Walk.Step) * job.RowStride;
  int64_t perRequest = 1;
  if (together && apart > 0 && settings.RequestBytes > rows.RowBytes) {
    perRequest += (int64_t(settings.RequestBytes) - rows.RowBytes) / apart;
  }
  job.ChunkRows = Clamp(perRequest, 1, job.Shown > 0 ? job.Shown : 1);
  job.Chunks = job.Shown == 0 ? 0 : (job.Shown - 1) / job.ChunkRows + 1;
  const uint64_t chunkBytes = uint64_t(RowInChunk(job, job.ChunkRows - 1)) + rows.RowBytes;
  job.SlotBytes = SlotBytesFor(chunkBytes);
  const uint64_t slotBytes = uint64_t(job.SlotBytes) * uint64_t(rows.FileCount);
  const uint64_t requested = (chunkBytes > 0 ? chunkBytes : 1) * uint64_t(rows.FileCount);
  const int64_t byBudget = int64_t(settings.BytesInFlight / requested);
  const int64_t byBlock = int64_t(uint64_t(kFrameReadBytes - kFileReadAlignment) / slotBytes);
  int64_t slots = settings.ReadsInFlight < byBudget ? settings.ReadsInFlight : byBudget;
  slots = slots < byBlock ? slots : byBlock;
  job.Slots = Clamp(slots < job.Chunks ? slots : job.Chunks, 1, kMaxReaders);
  if (uint64_t(job.SlotBytes) * rows.FileCount + kFileReadAlignment > kFrameReadBytes) {
    // More rows per request than the block holds for every file: one row a request.
    job.ChunkRows = 1;
    job.Chunks = job.Shown;
    job.SlotBytes = SlotBytesFor(rows.RowBytes);
    job.Slots = 1;
  }
  for (auto& slot : job.Requests) {
    for (PlatformReadRequest& request : slot) request.Completed = 0;
  }
  job.MissingRows = 0;
  for (int32_t chunk = 0; chunk < job.Slots && chunk < job.Chunks; ++chunk) QueueChunk(job, chunk);
}

int32_t TakeChunk(FrameJob& job) {
  const int32_t chunk = job.NextChunk.fetch_add(1);
  if (chunk >= job.Chunks) return -1;
  const FrameRows& rows = *job.Rows;
  const int32_t slot = chunk % job.Slots;
  const int32_t count = ChunkEnd(job, chunk) - chunk * job.ChunkRows;
  // The slot's reads for this chunk are its (chunk / Slots + 1)-th; the one before may still be
  // in another worker's hands, and then this chunk is not even queued yet.
  const int64_t use = chunk / job.Slots + 1;
  // A file that ends early misses the rows of a chunk from some row on: the chunk's missing rows
  // are those of the file that ends first.
  int32_t missing = 0;
  for (int32_t k = 0; k < rows.FileCount; ++k) {
    const uint32_t got = PlatformWaitRead(&job.Requests[slot][k], use);
    if (job.ReadByDecoder[slot]) continue;
    uint8_t* first = ChunkData(job, slot, k);
    int32_t shortRows = 0;
    for (int32_t j = 0; j < count; ++j) {
      const int64_t at = RowInChunk(job, j);
      const int64_t arrived = int64_t(got) - at;
      const uint32_t kept = arrived <= 0               ? 0
                            : arrived >= rows.RowBytes ? rows.RowBytes
                                                       : uint32_t(arrived);
      FillMissing(first + at, kept, rows.RowBytes, rows.Missing->Bytes);
      shortRows += kept < rows.RowBytes ? 1 : 0;
    }
    if (shortRows > missing) missing = shortRows;
  }
  if (missing != 0) job.MissingRows += missing;
  return chunk;
}

uint8_t* PointAtRow(const FrameJob& job, RowWalk& walk, int32_t chunk, int32_t row) {
  const FrameRows& rows = *job.Rows;
  const int32_t slot = chunk % job.Slots;
  const int64_t at = RowInChunk(job, row - chunk * job.ChunkRows);
  bool missing = false;
  for (int32_t k = 0; k < rows.FileCount; ++k) {
    if (job.ReadByDecoder[slot]) {
      // The row alone, where the chunk's first would land, through the cache.
      const PlatformReadRequest& request = job.Requests[slot][k];
      const int64_t offset = request.Offset + at;
      uint8_t* const buffer = request.Buffer;
      const uint32_t got = PlatformReadFileAt(request.File, buffer, rows.RowBytes, offset, false);
      uint8_t* const data = buffer + offset % kFileReadAlignment;
      FillMissing(data, got, rows.RowBytes, rows.Missing->Bytes);
      missing = missing || got < rows.RowBytes;
      walk.Rows[k] = data;
    } else {
      walk.Rows[k] = ChunkData(job, slot, k) + at;
    }
  }
  if (missing) ++job.MissingRows;
  // Bottom first, the row in file order is the bitmap row; top first they run the other way.
  const int32_t bitmapRow = rows.Order.BottomUp ? row : job.Shown - 1 - row;
  return Viewer.FramePixels + size_t(bitmapRow) * size_t(walk.Columns) * 4;
}

void FinishChunk(FrameJob& job, int32_t chunk) {
  if (chunk + job.Slots < job.Chunks) QueueChunk(job, chunk + job.Slots);
}

void EndFrameReads(FrameJob& job) {
  lastShape = {job.Rows->FileCount,
               job.Rows->FirstRow,
               job.FirstFileRow * job.RowStride,
               int64_t(job.ChunkRows) * job.Walk.Step * job.RowStride,
               uint32_t(RowInChunk(job, job.ChunkRows - 1) + job.Rows->RowBytes),
               job.Chunks};
}

int32_t FrameWorkerCount(const FrameJob& job) {
  const int32_t workers = PlatformWorkerCount();
  return job.Chunks < 1 ? 1 : workers < job.Chunks ? workers : job.Chunks;
}

void ReadAheadRows(const char* const* paths, int32_t fileCount, int64_t firstRow) {
  const FrameShape& shape = lastShape;
  const bool withHeader = firstRow == -1;
  if (withHeader) firstRow = shape.FirstRow;
  if (shape.FileCount != fileCount || shape.Chunks == 0 || firstRow < 0 ||
      firstRow > INT64_MAX - shape.FirstChunk - shape.ChunkStride * shape.Chunks) {
    return;
  }
  // A header longer than this is no header the readers know.
  constexpr int64_t kLongestHeader = 1 << 20;
  for (int32_t k = 0; k < fileCount; ++k) {
    // The header first: the reader reads it before any row.
    if (withHeader && firstRow > 0) {
      PlatformQueueReadAhead(paths[k], 0,
                             uint32_t(firstRow < kLongestHeader ? firstRow : kLongestHeader), 0, 1);
    }
    PlatformQueueReadAhead(paths[k], firstRow + shape.FirstChunk, shape.ChunkBytes,
                           shape.ChunkStride, shape.Chunks);
  }
}

namespace {
struct SkipRow {
  static void Decode(const RowWalk&, uint8_t*) {}
};
}  // namespace

int32_t ReadFrameRowsOnly(const FrameRows& rows) {
  if (!FrameRowsFit(rows)) return -1;
  FrameJob job;
  StartFrameReads(job, rows, PrepareColourStage(false, false));
  // On one worker: the floor the bench has always set the decode against.
  PlatformRunWorkers(DecodeChunks<SkipRow>, &job, 1);
  EndFrameReads(job);
  return job.Shown;
}

bool UseSse2Kernels = (__builtin_cpu_init(), __builtin_cpu_supports("sse2") != 0);
bool UseAvx2Kernels = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
