// Files for reading: the only way the core reaches the file system.
#pragma once

#include <cstdint>

struct PlatformFileHandle;
using PlatformFile = PlatformFileHandle*;  // null is the one failure signal

enum PlatformSeekOrigin { SeekFromStart, SeekFromCurrent, SeekFromEnd };

// Opens an existing file for reading, shared with other readers, with the sequential-scan hint.
// Null when it cannot be opened (missing, a folder, no access, a name the system refuses).
PlatformFile PlatformOpenFile(const char* path);

// Reads up to n bytes at the file position; returns how many arrived (0 at the end or on error).
uint32_t PlatformReadFile(PlatformFile file, void* buffer, uint32_t n);

// Moves the file position; returns the new position, or -1 when the move is refused (a position
// before the start of the file). A position past the end is allowed; reads there deliver nothing.
int64_t PlatformSeekFile(PlatformFile file, int64_t offset, PlatformSeekOrigin origin);

// Reads up to n bytes at `offset`, leaving the file position alone; returns how many arrived
// (fewer only at the end of the file, 0 on error). Many threads may read one file at once. The
// bytes land at buffer + offset % kFileReadAlignment, and the buffer, aligned to
// kFileReadAlignment, has room for n + 2 * kFileReadAlignment bytes: with `pastCache` the bytes
// may then be read straight from the storage in whole aligned blocks around them, which costs no
// copy and fills no cache (Linux; Windows reads through its cache either way).
constexpr uint32_t kFileReadAlignment = 4096;
uint32_t PlatformReadFileAt(PlatformFile file, uint8_t* buffer, uint32_t n, int64_t offset,
                            bool pastCache);

// Whether the file cache holds bytes [offset, offset + n) of the file, or is already fetching
// them (read-ahead). Windows cannot tell without reading them: false, every chunk to the readers.
// A Linux kernel without the call: true, every chunk through the cache.
bool PlatformFileCached(PlatformFile file, int64_t offset, uint32_t n);

// Asks the system to bring bytes [offset, offset + n) of the file into its file cache, so that a
// later read of them need not wait for the storage; may block while the storage reads them.
void PlatformWarmFile(PlatformFile file, int64_t offset, uint32_t n);

void PlatformCloseFile(PlatformFile file);
