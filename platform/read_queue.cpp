#include "platform/read_queue.h"

#include "platform/async_read.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// The ranges of one file that read-ahead warms, handed out one at a time to free readers.
struct ReadAheadJob {
  PlatformFile File;  // null: the slot is free
  int64_t Offset;
  int64_t Stride;
  uint32_t Bytes;
  int32_t Count;
  int32_t Next;     // the next range to hand out
  int32_t Running;  // ranges being warmed now; the file closes when none is left to do
};
// Enough for the files of two frames (three planes and their headers each).
constexpr int32_t kMaxReadAheadJobs = 12;

struct Readers {
  std::mutex Lock;
  std::condition_variable Work;      // a read or a range waits, or the crew stops
  std::condition_variable Finished;  // a read, or a read-ahead range, is done
  std::thread Threads[kMaxReaders];
  int32_t Count = 0;
  bool Stopping = false;
  int32_t Started = 0;                   // reads the system runs by itself, not yet ended
  bool Ending = false;                   // a waiter is collecting ended ones
  PlatformReadRequest* First = nullptr;  // reads in the order queued
  PlatformReadRequest* Last = nullptr;
  ReadAheadJob Jobs[kMaxReadAheadJobs] = {};
  int32_t Warming = 0;  // readers warming a range now

  // A program may end without stopping its readers: joined here, as a thread left running when
  // its std::thread is destroyed would end the program.
  ~Readers() { PlatformStopReaders(); }
};
Readers readers;

void Finish(PlatformReadRequest* request, uint32_t got) {
  std::lock_guard<std::mutex> hold(readers.Lock);
  request->Got = got;
  request->Completed.fetch_add(1);
  readers.Finished.notify_all();
}

// Under the lock: the file of a job with nothing left to hand out or finish, taken from it.
PlatformFile TakeSpentFile(ReadAheadJob& job) {
  if (job.File == nullptr || job.Next < job.Count || job.Running > 0) return nullptr;
  const PlatformFile file = job.File;
  job = ReadAheadJob{};
  return file;
}

// Reads come first: a frame being shown never waits behind the read-ahead of the next one.
void ReaderLoop() {
  std::unique_lock<std::mutex> hold(readers.Lock);
  for (;;) {
    if (PlatformReadRequest* request = readers.First) {
      readers.First = request->Next;
      if (readers.First == nullptr) readers.Last = nullptr;
      hold.unlock();
      Finish(request, PlatformReadFileAt(request->File, request->Buffer, request->Bytes,
                                         request->Offset, request->PastCache));
      hold.lock();
      continue;
    }
    if (readers.Stopping) return;
    ReadAheadJob* job = nullptr;
    for (ReadAheadJob& candidate : readers.Jobs) {
      if (candidate.File != nullptr && candidate.Next < candidate.Count) {
        job = &candidate;
        break;
      }
    }
    if (job == nullptr || readers.Warming >= PlatformWarmersAtOnce()) {
      readers.Work.wait(hold);
      continue;
    }
    const int64_t offset = job->Offset + job->Stride * job->Next++;
    ++job->Running;
    ++readers.Warming;
    const PlatformFile file = job->File;
    const uint32_t bytes = job->Bytes;
    hold.unlock();
    PlatformWarmFile(file, offset, bytes);
    hold.lock();
    --readers.Warming;
    --job->Running;
    if (const PlatformFile spent = TakeSpentFile(*job)) {
      hold.unlock();
      PlatformCloseFile(spent);
      hold.lock();
      readers.Finished.notify_all();
    }
  }
}

// Under the lock: starts the crew when it is not running. Stacks are the system's default size.
void EnsureReaders() {
  if (readers.Count > 0) return;
  for (int32_t k = 0; k < kMaxReaders; ++k) {
    try {
      readers.Threads[k] = std::thread(ReaderLoop);
    } catch (...) {
      break;
    }
    ++readers.Count;
  }
}

}  // namespace

void PlatformQueueRead(PlatformReadRequest* request) {
  if (PlatformStartAsyncRead(request)) {
    std::lock_guard<std::mutex> hold(readers.Lock);
    ++readers.Started;
    readers.Finished.notify_all();  // a waiter that found none started collects this one
    return;
  }
  {
    std::lock_guard<std::mutex> hold(readers.Lock);
    EnsureReaders();
    if (readers.Count > 0) {
      request->Next = nullptr;
      (readers.Last != nullptr ? readers.Last->Next : readers.First) = request;
      readers.Last = request;
      readers.Work.notify_one();
      return;
    }
  }
  Finish(request, PlatformReadFileAt(request->File, request->Buffer, request->Bytes,
                                     request->Offset, request->PastCache));
}

void PlatformCompleteUnread(PlatformReadRequest* request) {
  Finish(request, 0);
}

uint32_t PlatformWaitRead(PlatformReadRequest* request, int64_t completed) {
  std::unique_lock<std::mutex> hold(readers.Lock);
  while (request->Completed.load() < completed) {
    if (readers.Started == 0 || readers.Ending) {
      readers.Finished.wait(hold);
      continue;
    }
    // One waiter at a time collects what the system finished, for every waiter.
    readers.Ending = true;
    hold.unlock();
    PlatformReadRequest* ended[kMaxReaders];
    uint32_t got[kMaxReaders];
    const int32_t count = PlatformEndAsyncReads(ended, got, kMaxReaders);
    hold.lock();
    for (int32_t i = 0; i < count; ++i) {
      ended[i]->Got = got[i];
      ended[i]->Completed.fetch_add(1);
    }
    readers.Started -= count;
    readers.Ending = false;
    readers.Finished.notify_all();
  }
  return request->Got;
}

void PlatformQueueReadAhead(const char* path, int64_t offset, uint32_t bytes, int64_t stride,
                            int32_t count) {
  if (count <= 0 || bytes == 0) return;
  const PlatformFile file = PlatformOpenFile(path);
  if (file == nullptr) return;  // gone already: its load will say so
  {
    std::lock_guard<std::mutex> hold(readers.Lock);
    EnsureReaders();
    for (ReadAheadJob& job : readers.Jobs) {
      if (readers.Count > 0 && job.File == nullptr) {
        job = ReadAheadJob{file, offset, stride, bytes, count, 0, 0};
        readers.Work.notify_all();
        return;
      }
    }
  }
  PlatformCloseFile(file);  // every slot busy, or no reader: the frame is read when shown
}

void PlatformWaitReadAhead() {
  std::unique_lock<std::mutex> hold(readers.Lock);
  readers.Finished.wait(hold, [] {
    for (const ReadAheadJob& job : readers.Jobs) {
      if (job.File != nullptr) return false;
    }
    return true;
  });
}

void PlatformDropReadAhead() {
  PlatformFile spent[kMaxReadAheadJobs] = {};
  {
    std::lock_guard<std::mutex> hold(readers.Lock);
    for (int32_t k = 0; k < kMaxReadAheadJobs; ++k) {
      readers.Jobs[k].Next = readers.Jobs[k].Count;
      spent[k] = TakeSpentFile(readers.Jobs[k]);
    }
  }
  for (PlatformFile file : spent) PlatformCloseFile(file);
}

void PlatformStopReaders() {
  PlatformDropReadAhead();
  {
    std::lock_guard<std::mutex> hold(readers.Lock);
    readers.Stopping = true;
    readers.Work.notify_all();
  }
  for (int32_t k = 0; k < readers.Count; ++k) readers.Threads[k].join();
  std::lock_guard<std::mutex> hold(readers.Lock);
  // A range being warmed when the drop came has finished since; its file is still open.
  for (ReadAheadJob& job : readers.Jobs) PlatformCloseFile(TakeSpentFile(job));
  readers.Count = 0;
  readers.Stopping = false;
}
