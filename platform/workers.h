// A crew of threads started once, for one job at a time: every core on one frame. The calling
// thread is always the first worker, so with one worker no thread exists at all.
#pragma once

#include <cstdint>

// A 32-bit process keeps its address space for frames: no more than this many workers, each
// thread with a small stack.
constexpr int32_t kMaxWorkers = 16;

// count within 1 .. most.
inline int32_t ClampWorkers(int32_t count, int32_t most) {
  return count < 1 ? 1 : count > most ? most : count;
}

// The logical processors this process may run on; 1 when the system does not say.
int32_t PlatformProcessorCount();

// Part `part` of `parts` of a job, with the caller's context.
using PlatformWorkerJob = void (*)(void* context, int32_t part, int32_t parts);

// Stops any earlier crew, then starts count - 1 threads (count clamped to 1..kMaxWorkers) that
// wait between jobs. Returns the workers available: fewer when a thread could not be started.
int32_t PlatformStartWorkers(int32_t count);

// The workers available now: 1 before any start.
int32_t PlatformWorkerCount();

// Runs job for parts 0 .. parts - 1 (parts clamped to 1 .. the worker count): part 0 on the
// calling thread, each other part on its own waiting thread. Returns when every part is done, so
// what the parts wrote is then visible to the caller.
void PlatformRunWorkers(PlatformWorkerJob job, void* context, int32_t parts);

// Ends and joins every thread; afterwards the calling thread is the only worker.
void PlatformStopWorkers();
