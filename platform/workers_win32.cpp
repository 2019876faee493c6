#include "platform/workers.h"

#include <windows.h>

namespace {

// Each thread waits on its own auto-reset "go" event and signals its own "done" event: the
// caller sets the go events of the parts it hands out and waits for exactly those done events.
// The events order the memory: what the caller wrote before a go is seen by the part, and what
// the part wrote before its done is seen by the caller.
struct Crew {
  HANDLE Threads[kMaxWorkers] = {};
  HANDLE Go[kMaxWorkers] = {};
  HANDLE Done[kMaxWorkers] = {};
  int32_t Count = 1;
  volatile LONG Stopping = 0;
  PlatformWorkerJob Job = nullptr;
  void* Context = nullptr;
  int32_t Parts = 0;
};
Crew crew;

// A small stack: the parts decode rows into buffers the caller owns and keep little of their own.
constexpr SIZE_T kWorkerStackBytes = 256 * 1024;

DWORD WINAPI WorkerLoop(void* argument) {
  const int32_t part = int32_t(reinterpret_cast<INT_PTR>(argument));
  for (;;) {
    WaitForSingleObject(crew.Go[part], INFINITE);
    if (crew.Stopping != 0) return 0;
    crew.Job(crew.Context, part, crew.Parts);
    SetEvent(crew.Done[part]);
  }
}

void CloseSlot(int32_t k) {
  if (crew.Threads[k] != nullptr) CloseHandle(crew.Threads[k]);
  if (crew.Go[k] != nullptr) CloseHandle(crew.Go[k]);
  if (crew.Done[k] != nullptr) CloseHandle(crew.Done[k]);
  crew.Threads[k] = crew.Go[k] = crew.Done[k] = nullptr;
}

}  // namespace

int32_t PlatformProcessorCount() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int32_t count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors < 1 ? 1 : int32_t(info.dwNumberOfProcessors);
}

int32_t PlatformStartWorkers(int32_t count) {
  PlatformStopWorkers();
  count = ClampWorkers(count, kMaxWorkers);
  crew.Stopping = 0;
  int32_t started = 1;
  for (; started < count; ++started) {
    crew.Go[started] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    crew.Done[started] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (crew.Go[started] != nullptr && crew.Done[started] != nullptr) {
      crew.Threads[started] = CreateThread(nullptr, kWorkerStackBytes, WorkerLoop,
                                           reinterpret_cast<void*>(INT_PTR(started)),
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (crew.Threads[started] == nullptr) {
      CloseSlot(started);
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
  crew.Job = job;
  crew.Context = context;
  crew.Parts = parts;
  for (int32_t k = 1; k < parts; ++k) SetEvent(crew.Go[k]);
  job(context, 0, parts);
  if (parts > 1) WaitForMultipleObjects(DWORD(parts - 1), crew.Done + 1, TRUE, INFINITE);
}

void PlatformStopWorkers() {
  if (crew.Count > 1) {
    InterlockedExchange(&crew.Stopping, 1);
    for (int32_t k = 1; k < crew.Count; ++k) SetEvent(crew.Go[k]);
    WaitForMultipleObjects(DWORD(crew.Count - 1), crew.Threads + 1, TRUE, INFINITE);
  }
  for (int32_t k = 1; k < crew.Count; ++k) CloseSlot(k);
  crew.Count = 1;
}
