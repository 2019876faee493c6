#include "platform/file.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// Frames of 8K movies lie far beyond 4 GiB; a 32-bit off_t would wrap silently.
static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets (_FILE_OFFSET_BITS=64)");

// The handle is the descriptor plus one: descriptor 0 stays distinct from the null failure
// signal, and an open file costs no allocation.
static int Descriptor(PlatformFile file) {
  return int(reinterpret_cast<intptr_t>(file) - 1);
}

PlatformFile PlatformOpenFile(const char* path) {
  // Non-blocking only for the open itself, so that a FIFO given as a frame cannot hang the viewer.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat info;
  // Frames are regular files. Windows will not open a folder as a file, and a device or FIFO
  // could feed the atom walk endlessly or block a read: refuse them all by hand.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return reinterpret_cast<PlatformFile>(intptr_t(fd) + 1);
}

uint32_t PlatformReadFile(PlatformFile file, void* buffer, uint32_t n) {
  // read() may deliver less than asked before the end (signals, pipes); Windows' ReadFile on a
  // disk file does not, so keep asking until the request is filled or the file ends.
  auto* at = static_cast<char*>(buffer);
  uint32_t got = 0;
  while (got < n) {
    const ssize_t r = read(Descriptor(file), at + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += uint32_t(r);
  }
  return got;
}

uint32_t PlatformReadFileAt(PlatformFile file, void* buffer, uint32_t n, int64_t offset) {
  auto* at = static_cast<char*>(buffer);
  uint32_t got = 0;
  while (got < n) {
    const ssize_t r = pread(Descriptor(file), at + got, n - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += uint32_t(r);
  }
  return got;
}

void PlatformWarmFile(PlatformFile file, int64_t offset, uint32_t n) {
  // The system reads the pages in the background; nothing is copied here.
  posix_fadvise(Descriptor(file), off_t(offset), off_t(n), POSIX_FADV_WILLNEED);
}

int64_t PlatformSeekFile(PlatformFile file, int64_t offset, PlatformSeekOrigin origin) {
  // lseek refuses a negative result with EINVAL and leaves the position alone, as Windows does.
  const int whence = origin == SeekFromStart ? SEEK_SET
                     : origin == SeekFromEnd ? SEEK_END
                                             : SEEK_CUR;
  const off_t at = lseek(Descriptor(file), off_t(offset), whence);
  return at < 0 ? -1 : int64_t(at);
}

void PlatformCloseFile(PlatformFile file) {
  if (file != nullptr) close(Descriptor(file));
}
