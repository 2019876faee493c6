#include "platform/workers.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// One job at a time: a generation number tells a waiting thread that a new job was handed out,
// and the count of parts still running tells the caller when it is done.
struct Crew {
  std::mutex Lock;
  std::condition_variable Started;
  std::condition_variable Finished;
  std::thread Threads[kMaxWorkers];
  int32_t Count = 1;
  uint64_t Generation = 0;
  bool Stopping = false;
  PlatformWorkerJob Job = nullptr;
  void* Context = nullptr;
  int32_t Parts = 0;
  int32_t Running = 0;

  // A program may end without stopping its crew: joined here, as a thread left running when
  // its std::thread is destroyed would end the program.
  ~Crew() { PlatformStopWorkers(); }
};
Crew crew;

// seen: the generation when the thread started; jobs of an earlier crew are not its own.
void WorkerLoop(int32_t part, uint64_t seen) {
  for (;;) {
    PlatformWorkerJob job;
    void* context;
    int32_t parts;
    {
      std::unique_lock<std::mutex> hold(crew.Lock);
      crew.Started.wait(hold, [&] { return crew.Stopping || crew.Generation != seen; });
      if (crew.Stopping) return;
      seen = crew.Generation;
      job = crew.Job;
      context = crew.Context;
      parts = crew.Parts;
    }
    if (part < parts) job(context, part, parts);
    if (part < parts) {
      std::lock_guard<std::mutex> hold(crew.Lock);
      if (--crew.Running == 0) crew.Finished.notify_one();
    }
  }
}

}  // namespace

int32_t PlatformProcessorCount() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online < 1 ? 1 : online > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(online);
}

int32_t PlatformStartWorkers(int32_t count) {
  PlatformStopWorkers();
  count = ClampWorkers(count, kMaxWorkers);
  crew.Stopping = false;
  int32_t started = 1;
  for (; started < count; ++started) {
    try {
      crew.Threads[started] = std::thread(WorkerLoop, started, crew.Generation);
    } catch (...) {
      break;
    }
  }
  crew.Count = started;
  return started;
}

int32_t PlatformWorkerCount() {
  return crew.Count;
}

void PlatformRunWorkers(PlatformWorkerJob job, void* context, int32_t parts) {
  parts = ClampWorkers(parts, crew.Count);
  if (parts > 1) {
    std::lock_guard<std::mutex> hold(crew.Lock);
    crew.Job = job;
    crew.Context = context;
    crew.Parts = parts;
    crew.Running = parts - 1;
    ++crew.Generation;
    crew.Started.notify_all();
  }
  job(context, 0, parts);
  if (parts > 1) {
    std::unique_lock<std::mutex> hold(crew.Lock);
    crew.Finished.wait(hold, [] { return crew.Running == 0; });
  }
}

void PlatformStopWorkers() {
  {
    std::lock_guard<std::mutex> hold(crew.Lock);
    crew.Stopping = true;
    crew.Started.notify_all();
  }
  for (int32_t k = 1; k < crew.Count; ++k) crew.Threads[k].join();
  crew.Count = 1;
}
