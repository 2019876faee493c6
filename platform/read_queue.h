// Reads in flight: many requests wait on the storage at once whatever the number of decode
// workers. Storage is latency-bound: one stream of row-sized reads gets a fraction of what it
// delivers to dozens of requests outstanding. Where the system runs reads by itself (Linux's
// asynchronous reads, for reads past the file cache) no thread waits in each; every other read
// goes to a crew of reader threads. The crew also warms the system's file cache with ranges of
// files named by path (playback's read-ahead), whenever no read is waiting.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/file.h"

// Reader threads at most: requests in flight beyond this wait in the queue.
constexpr int32_t kMaxReaders = 32;

// One read: `Bytes` bytes of `File` from `Offset` into `Buffer`, as PlatformReadFileAt lays them
// out there. A request may be queued again once done; `Completed` counts its finished reads, so a
// waiter can tell this read from the last.
struct PlatformReadRequest {
  PlatformFile File;
  int64_t Offset;
  uint8_t* Buffer;
  uint32_t Bytes;
  bool PastCache;                  // PlatformReadFileAt's
  uint32_t Got;                    // how many bytes arrived: fewer at the end of the file
  std::atomic<int64_t> Completed;  // set by the queue
  PlatformReadRequest* Next;       // the queue's own link
};

// Queues the read; it starts at once when a reader is free. Readers are started on first use;
// when none can be started the read is done here, before the call returns.
void PlatformQueueRead(PlatformReadRequest* request);

// Counts the request as done without reading anything (Got 0): its reader found it needless.
void PlatformCompleteUnread(PlatformReadRequest* request);

// Waits until the request has finished `completed` reads in all; returns its Got.
uint32_t PlatformWaitRead(PlatformReadRequest* request, int64_t completed);

// Warms the file cache with `count` ranges of `bytes` bytes of the file at `path`, the first
// at `offset`, each `stride` bytes after the last, in the background: the file is opened here
// and closed by the readers. Nothing read is handed back, so a file changed meanwhile is read
// afresh by whoever reads it next. Ranges still waiting when a later read-ahead is queued go too.
void PlatformQueueReadAhead(const char* path, int64_t offset, uint32_t bytes, int64_t stride,
                            int32_t count);

// Waits until every read-ahead range queued is warmed or dropped, and its file closed.
void PlatformWaitReadAhead();

// Forgets every read-ahead range not yet started.
void PlatformDropReadAhead();

// Ends and joins every reader thread; the next read starts them again.
void PlatformStopReaders();
