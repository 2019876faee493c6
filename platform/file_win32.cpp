#include "platform/file.h"

#include <windows.h>

static HANDLE Handle(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

PlatformFile PlatformOpenFile(const char* path) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened, which is what the callers want.
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<PlatformFile>(file);
}

uint32_t PlatformReadFile(PlatformFile file, void* buffer, uint32_t n) {
  DWORD got = 0;
  if (!ReadFile(Handle(file), buffer, n, &got, nullptr)) return 0;
  return got;
}

int64_t PlatformSeekFile(PlatformFile file, int64_t offset, PlatformSeekOrigin origin) {
  LONG high = LONG(offset >> 32);
  // A low part of 0xFFFFFFFF is also a real position (4 GiB - 1, and every 4 GiB after it), so
  // only the error code tells a failure apart. It is cleared first so that a stale code left by
  // an earlier call can never turn such a position into a failure.
  SetLastError(NO_ERROR);
  const DWORD method = origin == SeekFromStart ? FILE_BEGIN
                       : origin == SeekFromEnd ? FILE_END
                                               : FILE_CURRENT;
  const DWORD low = SetFilePointer(Handle(file), LONG(uint32_t(offset)), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return int64_t((uint64_t(uint32_t(high)) << 32) | low);
}

void PlatformCloseFile(PlatformFile file) {
  if (file != nullptr) CloseHandle(Handle(file));
}
