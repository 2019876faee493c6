// Files for reading: the only way the core reaches the file system.
#pragma once

#include <cstdint>

struct PlatformFileHandle;
using PlatformFile = PlatformFileHandle*;  // null is the one failure signal

enum PlatformSeekOrigin { SeekFromStart, SeekFromCurrent, SeekFromEnd };

// Opens an existing file for reading, shared with other readers; null when it cannot.
PlatformFile PlatformOpenFile(const char* path);

// Reads up to n bytes at the file position; returns how many arrived (0 at the end or on error).
uint32_t PlatformReadFile(PlatformFile file, void* buffer, uint32_t n);

// Moves the file position; the new position, or -1 before the start. Past the end is allowed.
int64_t PlatformSeekFile(PlatformFile file, int64_t offset, PlatformSeekOrigin origin);

// Reads up to n bytes at `offset`, leaving the file position alone; returns how many arrived
// (fewer only at the end, 0 on error); many threads may read one file at once. The bytes land at
// buffer + offset % kFileReadAlignment in an aligned buffer of n + 2 * kFileReadAlignment bytes,
// so with `pastCache` whole aligned blocks can come straight from the storage, copying nothing.
constexpr uint32_t kFileReadAlignment = 4096;
uint32_t PlatformReadFileAt(PlatformFile file, uint8_t* buffer, uint32_t n, int64_t offset,
                            bool pastCache);

// Whether the file cache holds bytes [offset, offset + n) of the file, or is already fetching
// them (read-ahead). Windows cannot tell without reading them: false, every chunk to the readers.
// A Linux kernel without the call: true, every chunk through the cache.
bool PlatformFileCached(PlatformFile file, int64_t offset, uint32_t n);

// Brings bytes [offset, offset + n) into the file cache for a later read; may block meanwhile.
void PlatformWarmFile(PlatformFile file, int64_t offset, uint32_t n);

// How many threads may warm the cache at once. Where a warm only starts the read, one thread keeps
// the storage busy, and more would only take the processor from the frame being decoded.
int32_t PlatformWarmersAtOnce();

void PlatformCloseFile(PlatformFile file);
