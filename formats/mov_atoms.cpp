// QuickTime atom scan.
//
// Every atom starts with a big-endian header:
//
//   offset 0  size  4  whole atom length, header included; 1 = a 64-bit length follows the type,
//                      0 = the atom runs to the end of the file
//   offset 4  type  4  four characters, compared byte for byte
//   offset 8  size  8  (only when size is 1) high word, then low word
//
// The body of `stsz` begins with version (1), flags (3), sample size (4) and sample count (4);
// a table of per-sample sizes follows when the sample size is 0, and is never read.
//
// The walk is flat and forward only: the containers on the path to the sample table are entered
// by reading their first child next, everything else is passed over with one relative seek.
// Frames lie back to back from the first payload byte of the media data (`mdat`).

#include "formats/mov_atoms.h"

#include <cstdint>
#include <cstring>

#include "core/viewer_state.h"
#include "formats/byte_order.h"
#include "platform/file.h"
#include "platform/heap.h"
#include "platform/workers.h"

namespace {

constexpr int64_t kMaxFilePosition = INT64_MAX;
constexpr uint64_t kStszBodyBytes = 12;

bool IsType(const uint8_t* type, const char* literal) {
  return std::memcmp(type, literal, 4) == 0;
}

// The containers whose children lead to the sample table; letter case matters ("MOOV" is not one).
bool IsEnteredContainer(const uint8_t* type) {
  return IsType(type, "moov") || IsType(type, "trak") || IsType(type, "mdia") ||
         IsType(type, "minf") || IsType(type, "stbl");
}

int32_t WalkAtoms(PlatformFile file) {
  int64_t position = 0;  // kept by hand: every read and seek below moves it
  uint64_t skip = 0;     // unsigned, so the walk can never move backwards
  bool metMediaData = false;
  bool readSampleSizes = false;
  for (;;) {
    // An extended size near 2^64 names a place no file reaches: that is the end of the file.
    if (skip > uint64_t(kMaxFilePosition - position)) return 0;
    if (skip != 0) {
      position = PlatformSeekFile(file, int64_t(skip), SeekFromCurrent);
      if (position < 0) return 0;
    }

    uint8_t sizeField[4] = {};
    uint8_t type[4] = {};
    position += PlatformReadFile(file, sizeField, 4);
    const uint32_t typeBytes = PlatformReadFile(file, type, 4);
    position += typeBytes;
    if (typeBytes < 4) return 0;  // the end of the file, before the frames were found

    const uint32_t size = BigEndian32(sizeField);
    uint64_t atomSize = size;
    uint64_t headerBytes = 8;
    if (size == 1) {
      uint8_t extended[8] = {};
      position += PlatformReadFile(file, extended, 8);
      atomSize = uint64_t(BigEndian32(extended)) << 32 | BigEndian32(extended + 4);
      headerBytes = 16;
    }
    // Size 0 (to the end of the file), 2..7, or an extended size below 16: no payload length
    // that leads forward to another atom, so a walk that must pass over such an atom ends there.
    const bool sizeUsable = atomSize >= headerBytes;
    skip = sizeUsable ? atomSize - headerBytes : 0;

    if (IsType(type, "mdat")) {
      Viewer.MovDataOffset = uint64_t(position);
      metMediaData = true;
      // The sample table came first (a movie written for streaming): this is its media data.
      if (readSampleSizes) return Viewer.MovSampleCount;
      if (!sizeUsable) return 0;
    } else if (IsEnteredContainer(type)) {
      // The container's own size plays no part: its first child is the next header.
      skip = 0;
    } else if (IsType(type, "stsz") && !readSampleSizes) {
      uint8_t body[kStszBodyBytes] = {};
      position += PlatformReadFile(file, body, kStszBodyBytes);
      Viewer.MovSampleSize = BigEndian32(body + 4);
      Viewer.MovSampleCount = int32_t(BigEndian32(body + 8));
      if (metMediaData) return Viewer.MovSampleCount;
      // No media data yet: walk on to it over the rest of this atom. One that claims to be
      // shorter than the body just read would send the walk backwards.
      if (!sizeUsable || skip < kStszBodyBytes) return 0;
      skip -= kStszBodyBytes;
      readSampleSizes = true;
    } else if (!sizeUsable) {
      return 0;  // later sample tables, and every other atom, are passed over whole
    }
  }
}

}  // namespace

bool EnsureMovRowBuffer() {
  if (Viewer.MovRowBuffer == nullptr) {
    Viewer.MovRowBuffer =
        static_cast<uint8_t*>(PlatformAllocZeroed(size_t(kMovRowBufferSize) * kMaxWorkers));
  }
  return Viewer.MovRowBuffer != nullptr;
}

int32_t ScanMovAtoms() {
  // A missing row buffer does not stop the scan; the frame reader refuses to decode without it.
  EnsureMovRowBuffer();
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return 0;
  const int32_t count = WalkAtoms(file);
  PlatformCloseFile(file);
  return count;
}
