#include "platform/file.h"

#include <cerrno>
#include <cstdint>
#include <new>

#include <fcntl.h>
#include <linux/aio_abi.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/async_read.h"
#include "platform/read_queue.h"

// Frames of 8K movies lie far beyond 4 GiB; a 32-bit off_t would wrap silently.
static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets (_FILE_OFFSET_BITS=64)");

// The descriptor, and a second one for reads that bypass the file cache (-1 where the file
// system has none), with the alignment such reads need.
struct PlatformFileHandle {
  int Fd;
  int Direct;
  uint32_t DirectAlignment;
};

static int Descriptor(PlatformFile file) {
  return file->Fd;
}

// A descriptor of the same file that reads past the cache, or -1: statx says whether the file
// system takes such reads and with which alignment (never coarser than kFileReadAlignment here).
static int OpenDirect(const char* path, const struct stat& info, uint32_t& alignment) {
  struct statx direct = {};
  if (statx(AT_FDCWD, path, 0, STATX_DIOALIGN, &direct) != 0 ||
      (direct.stx_mask & STATX_DIOALIGN) == 0 || direct.stx_dio_offset_align == 0 ||
      direct.stx_dio_offset_align > kFileReadAlignment ||
      direct.stx_dio_mem_align > kFileReadAlignment) {
    return -1;
  }
  alignment = direct.stx_dio_offset_align;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_DIRECT);
  struct stat same;
  // The name may have been given to another file since the first open: that one is not read.
  if (fd >= 0 &&
      (fstat(fd, &same) != 0 || same.st_dev != info.st_dev || same.st_ino != info.st_ino ||
       fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
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
  auto* file = new (std::nothrow) PlatformFileHandle{fd, -1, 0};
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  file->Direct = OpenDirect(path, info, file->DirectAlignment);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
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

namespace {

uint32_t ReadThroughCache(int fd, uint8_t* at, uint32_t n, int64_t offset) {
  uint32_t got = 0;
  while (got < n) {
    const ssize_t r = pread(fd, at + got, n - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += uint32_t(r);
  }
  return got;
}

}  // namespace

// The system's cachestat, which starts no read, counts the pages of the range the cache holds,
// those still on their way in included. Where the kernel lacks it (before 6.5) every range counts
// as cached and is read through the cache, so a sequence in memory is never read past it.
bool PlatformFileCached(PlatformFile file, int64_t offset, uint32_t n) {
#if defined(__x86_64__)
  constexpr long kCachestat = 451;
  struct {
    uint64_t Offset, Bytes;
  } range = {uint64_t(offset), n};
  struct {
    uint64_t Cached, Dirty, Writeback, Evicted, RecentlyEvicted;
  } held = {};
  static const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
  const uint64_t pages = (uint64_t(offset) + n + page - 1) / page - uint64_t(offset) / page;
  if (syscall(kCachestat, file->Fd, &range, &held, 0) != 0) return errno == ENOSYS;
  return held.Cached >= pages;
#else
  (void)file, (void)offset, (void)n;
  return true;
#endif
}

uint32_t PlatformReadFileAt(PlatformFile file, uint8_t* buffer, uint32_t n, int64_t offset,
                            bool pastCache) {
  uint8_t* const data = buffer + offset % kFileReadAlignment;
  if (!pastCache || file->Direct < 0 || n == 0) {
    return ReadThroughCache(file->Fd, data, n, offset);
  }
  // Straight from the storage, whole aligned blocks around the range, landing where the range
  // goes; the cache neither copies the bytes nor keeps them.
  const int64_t align = file->DirectAlignment;
  const int64_t first = offset - offset % align, end = (offset + n + align - 1) / align * align;
  int64_t at = first;
  while (at < end) {
    const ssize_t r = pread(file->Direct, data + (at - offset), size_t(end - at), off_t(at));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      // Refused (an alignment the file system wants otherwise): the rest through the cache.
      const uint32_t done = at > offset ? uint32_t(at - offset) : 0;
      return done + ReadThroughCache(file->Fd, data + done, n - done, offset + done);
    }
    if (r == 0) break;
    at += r;
  }
  return at <= offset ? 0 : at - offset >= n ? n : uint32_t(at - offset);
}

void PlatformWarmFile(PlatformFile file, int64_t offset, uint32_t n) {
  // The system reads the pages in the background; nothing is copied here.
  posix_fadvise(Descriptor(file), off_t(offset), off_t(n), POSIX_FADV_WILLNEED);
}

int32_t PlatformWarmersAtOnce() {
  return 1;  // the advice returns as soon as the reads are queued
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
  if (file == nullptr) return;
  close(file->Fd);
  if (file->Direct >= 0) close(file->Direct);
  delete file;
}

// Linux's own asynchronous reads (io_submit), which run straight from the storage only: exactly
// the reads the queue is given, bytes the file cache lacks.
namespace {

aio_context_t AsyncContext() {
  static aio_context_t context = [] {
    aio_context_t made = 0;
    return syscall(SYS_io_setup, 4 * kMaxReaders, &made) == 0 ? made : aio_context_t(0);
  }();
  return context;
}

}  // namespace

bool PlatformStartAsyncRead(PlatformReadRequest* request) {
  const PlatformFile file = request->File;
  if (!request->PastCache || file == nullptr || file->Direct < 0 || request->Bytes == 0 ||
      AsyncContext() == 0) {
    return false;
  }
  const int64_t align = file->DirectAlignment, offset = request->Offset;
  const int64_t first = offset - offset % align;
  const int64_t end = (offset + request->Bytes + align - 1) / align * align;
  iocb block = {};  // the kernel copies it: it need not outlive the call
  block.aio_data = reinterpret_cast<uintptr_t>(request);
  block.aio_lio_opcode = IOCB_CMD_PREAD;
  block.aio_fildes = uint32_t(file->Direct);
  block.aio_buf =
      reinterpret_cast<uintptr_t>(request->Buffer + offset % kFileReadAlignment - (offset - first));
  block.aio_nbytes = uint64_t(end - first);
  block.aio_offset = first;
  iocb* blocks[1] = {&block};
  return syscall(SYS_io_submit, AsyncContext(), 1, blocks) == 1;
}

int32_t PlatformEndAsyncReads(PlatformReadRequest** ended, uint32_t* got, int32_t most) {
  io_event events[kMaxReaders];
  most = most < kMaxReaders ? most : kMaxReaders;
  const long count = syscall(SYS_io_getevents, AsyncContext(), 1, long(most), events, nullptr);
  for (long i = 0; i < count; ++i) {
    PlatformReadRequest* request = reinterpret_cast<PlatformReadRequest*>(events[i].data);
    const int64_t lead = request->Offset % request->File->DirectAlignment;
    const int64_t arrived = events[i].res - lead;
    ended[i] = request;
    if (events[i].res < 0) {
      // Refused (an alignment the file system wants otherwise): through the cache after all.
      request->PastCache = false;
      got[i] = PlatformReadFileAt(request->File, request->Buffer, request->Bytes, request->Offset,
                                  false);
    } else {
      got[i] = arrived <= 0 ? 0 : arrived >= request->Bytes ? request->Bytes : uint32_t(arrived);
    }
  }
  return count < 0 ? 0 : int32_t(count);
}
