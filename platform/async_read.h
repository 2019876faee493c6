// Reads the system runs by itself, with no thread waiting in each: the platform's own part of the
// read queue (platform/read_queue.cpp), where it has one. A reader thread costs two thread
// switches and a wake-up a read; for the many small reads of a 1/4 or 1/8 view that was more
// processor time than the reads themselves.
#pragma once

#include <cstdint>

struct PlatformReadRequest;

// Starts the request's read straight from the storage (it asks to go past the cache); false when
// the system cannot, and a reader thread must read it.
bool PlatformStartAsyncRead(PlatformReadRequest* request);

// Waits until at least one started read has ended and hands back up to `most` of the ended ones
// with what each got; 0 when interrupted.
int32_t PlatformEndAsyncReads(PlatformReadRequest** ended, uint32_t* got, int32_t most);
