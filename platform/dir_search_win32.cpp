#include "platform/dir_search.h"

#include <cstring>

#include <windows.h>

static_assert(sizeof(WIN32_FIND_DATAA::cFileName) <= kPlatformNameSize,
              "every name the system reports must fit the caller's buffer");

// The search handle is the system's find handle itself; nothing is allocated.
static HANDLE FindHandle(PlatformSearch search) {
  return reinterpret_cast<HANDLE>(search);
}

// Only files can be frames: folders, "." and ".." among them (the system reports those like any
// other entry when the pattern matches them: "*", "??"), are passed over.
static bool IsFolder(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static bool FindNextEntry(HANDLE find, WIN32_FIND_DATAA& entry) {
  do {
    if (!FindNextFileA(find, &entry)) return false;
  } while (IsFolder(entry));
  return true;
}

static void CopyName(const WIN32_FIND_DATAA& entry, char* name) {
  std::memcpy(name, entry.cFileName, std::strlen(entry.cFileName) + 1);
}

PlatformSearch PlatformFindFirst(const char* pattern, char* name) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE) return nullptr;
  if (IsFolder(entry) && !FindNextEntry(find, entry)) {
    FindClose(find);
    return nullptr;
  }
  CopyName(entry, name);
  return reinterpret_cast<PlatformSearch>(find);
}

bool PlatformFindNext(PlatformSearch search, char* name) {
  WIN32_FIND_DATAA entry;
  if (!FindNextEntry(FindHandle(search), entry)) return false;
  CopyName(entry, name);
  return true;
}

void (*PlatformSearchClosedHook)() = nullptr;

void PlatformFindClose(PlatformSearch search) {
  if (search != nullptr) FindClose(FindHandle(search));
  if (PlatformSearchClosedHook != nullptr) PlatformSearchClosedHook();
}
