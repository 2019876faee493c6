// Reads in flight, whatever the number of decode workers: storage delivers far more to dozens of
// requests outstanding than to one stream. A crew of reader threads also warms the file cache.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/file.h"

// Reader threads at most: requests in flight beyond this wait in the queue.
constexpr int32_t kMaxReaders = 32;

// One read, as PlatformReadFileAt lays it out. Completed counts finished reads, so a request
// queued again can be told from its last read.
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

// Queues the read; when no reader thread can be started it is done here.
void PlatformQueueRead(PlatformReadRequest* request);

// Counts the request as done without reading anything (Got 0): its reader found it needless.
void PlatformCompleteUnread(PlatformReadRequest* request);

// Waits until the request has finished `completed` reads in all; returns its Got.
uint32_t PlatformWaitRead(PlatformReadRequest* request, int64_t completed);

// Warms the file cache in the background with `count` ranges of `bytes`, `stride` apart from
// `offset`; nothing is handed back, so a file changed meanwhile is read afresh.
void PlatformQueueReadAhead(const char* path, int64_t offset, uint32_t bytes, int64_t stride,
                            int32_t count);

// Waits until every read-ahead range queued is warmed or dropped, and its file closed.
void PlatformWaitReadAhead();

// Forgets every read-ahead range not yet started.
void PlatformDropReadAhead();

// Ends and joins every reader thread; the next read starts them again.
void PlatformStopReaders();
