#include "platform/file.h"

#include <windows.h>

#include "platform/async_read.h"
#include "platform/read_queue.h"

// Every file is opened for overlapped reads: on a handle opened without, the system runs one
// read at a time however many threads ask, and the readers' requests would wait on each other.
// Such a handle has no file position of its own, so the position lives beside it.
struct PlatformFileHandle {
  HANDLE Handle;
  int64_t Position;
};

namespace {

// Every read carries its offset and waits on its own event: several threads may read one handle
// at once, and a read that completes at once still reports through GetOverlappedResult.
uint32_t ReadAt(HANDLE handle, void* buffer, uint32_t n, int64_t offset) {
  auto* at = static_cast<char*>(buffer);
  uint32_t got = 0;
  while (got < n) {
    OVERLAPPED request = {};
    const uint64_t position = uint64_t(offset) + got;
    request.Offset = DWORD(position);
    request.OffsetHigh = DWORD(position >> 32);
    request.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request.hEvent == nullptr) break;
    DWORD arrived = 0;
    // ERROR_HANDLE_EOF, at or past the end of the file, ends the read like any other failure.
    const bool started = ReadFile(handle, at + got, n - got, nullptr, &request) ||
                         GetLastError() == ERROR_IO_PENDING;
    const bool done = started && GetOverlappedResult(handle, &request, &arrived, TRUE);
    CloseHandle(request.hEvent);
    if (!done || arrived == 0) break;
    got += arrived;
  }
  return got;
}

}  // namespace

PlatformFile PlatformOpenFile(const char* path) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened, which is what the callers want.
  const HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* file = static_cast<PlatformFileHandle*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PlatformFileHandle)));
  if (file == nullptr) {
    CloseHandle(handle);
    return nullptr;
  }
  file->Handle = handle;
  return file;
}

uint32_t PlatformReadFile(PlatformFile file, void* buffer, uint32_t n) {
  const uint32_t got = ReadAt(file->Handle, buffer, n, file->Position);
  file->Position += got;
  return got;
}

uint32_t PlatformReadFileAt(PlatformFile file, uint8_t* buffer, uint32_t n, int64_t offset, bool) {
  // Through the cache, where the bytes are asked to land: an unbuffered handle
  // (FILE_FLAG_NO_BUFFERING) could only be chosen by measuring on Windows itself.
  return ReadAt(file->Handle, buffer + offset % kFileReadAlignment, n, offset);
}

bool PlatformFileCached(PlatformFile, int64_t, uint32_t) {
  // No call tells without reading: every chunk goes to the readers.
  return false;
}

void PlatformWarmFile(PlatformFile file, int64_t offset, uint32_t n) {
  // Windows has no call that only starts the read: the bytes are read into a block that nobody
  // looks at, shared by every reader (what lands there is never used).
  constexpr uint32_t kPiece = 1 << 20;
  static uint8_t* discard = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, kPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (discard == nullptr) return;
  for (uint32_t done = 0; done < n;) {
    const uint32_t piece = n - done < kPiece ? n - done : kPiece;
    if (ReadAt(file->Handle, discard, piece, offset + done) != piece) return;
    done += piece;
  }
}

int32_t PlatformWarmersAtOnce() {
  return kMaxReaders;  // each warm waits for its bytes
}

int64_t PlatformSeekFile(PlatformFile file, int64_t offset, PlatformSeekOrigin origin) {
  int64_t base = origin == SeekFromStart ? 0 : file->Position;
  if (origin == SeekFromEnd) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file->Handle, &size)) return -1;
    base = size.QuadPart;
  }
  // A position before the start is refused and the position stays, as SetFilePointer does.
  if (offset < 0 ? base < -offset : base > INT64_MAX - offset) return -1;
  file->Position = base + offset;
  return file->Position;
}

void PlatformCloseFile(PlatformFile file) {
  if (file == nullptr) return;
  CloseHandle(file->Handle);
  HeapFree(GetProcessHeap(), 0, file);
}

// Every read goes to a reader thread. Overlapped reads on one handle with a completion port would
// need no thread; which one serves Windows better could only be measured there.
bool PlatformStartAsyncRead(PlatformReadRequest*) {
  return false;
}

int32_t PlatformEndAsyncReads(PlatformReadRequest**, uint32_t*, int32_t) {
  return 0;
}
