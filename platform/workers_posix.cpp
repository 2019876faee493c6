#include "platform/workers.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// One job at a time: a generation number tells a waiting thread that a new job was handed out,
// and the count of parts still running tells the caller when it is done.
struct Crew {
  std::mutex lock;
  std::condition_variable started;
  std::condition_variable finished;
  std::thread threads[kMaxWorkers];
  int32_t count = 1;
  uint64_t generation = 0;
  bool stopping = false;
  PlatformWorkerJob job = nullptr;
  void* context = nullptr;
  int32_t parts = 0;
  int32_t running = 0;

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
      std::unique_lock<std::mutex> hold(crew.lock);
      crew.started.wait(hold, [&] { return crew.stopping || crew.generation != seen; });
      if (crew.stopping) return;
      seen = crew.generation;
      job = crew.job;
      context = crew.context;
      parts = crew.parts;
    }
    if (part < parts) job(context, part, parts);
    if (part < parts) {
      std::lock_guard<std::mutex> hold(crew.lock);
      if (--crew.running == 0) crew.finished.notify_one();
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
  count = count < 1 ? 1 : count > kMaxWorkers ? kMaxWorkers : count;
  crew.stopping = false;
  int32_t started = 1;
  for (; started < count; ++started) {
    try {
      crew.threads[started] = std::thread(WorkerLoop, started, crew.generation);
    } catch (...) {
      break;
    }
  }
  crew.count = started;
  return started;
}

int32_t PlatformWorkerCount() {
  return crew.count;
}

void PlatformRunWorkers(PlatformWorkerJob job, void* context, int32_t parts) {
  parts = parts < 1 ? 1 : parts > crew.count ? crew.count : parts;
  if (parts > 1) {
    std::lock_guard<std::mutex> hold(crew.lock);
    crew.job = job;
    crew.context = context;
    crew.parts = parts;
    crew.running = parts - 1;
    ++crew.generation;
    crew.started.notify_all();
  }
  job(context, 0, parts);
  if (parts > 1) {
    std::unique_lock<std::mutex> hold(crew.lock);
    crew.finished.wait(hold, [] { return crew.running == 0; });
  }
}

void PlatformStopWorkers() {
  {
    std::lock_guard<std::mutex> hold(crew.lock);
    crew.stopping = true;
    crew.started.notify_all();
  }
  for (int32_t k = 1; k < crew.count; ++k) crew.threads[k].join();
  crew.count = 1;
}
