#include "platform/workers.h"

#include <windows.h>

namespace {

// Each thread waits on its own auto-reset "go" event and signals its own "done" event: the
// caller sets the go events of the parts it hands out and waits for exactly those done events.
// The events order the memory: what the caller wrote before a go is seen by the part, and what
// the part wrote before its done is seen by the caller.
struct Crew {
  HANDLE threads[kMaxWorkers] = {};
  HANDLE go[kMaxWorkers] = {};
  HANDLE done[kMaxWorkers] = {};
  int32_t count = 1;
  volatile LONG stopping = 0;
  PlatformWorkerJob job = nullptr;
  void* context = nullptr;
  int32_t parts = 0;
};
Crew crew;

// A small stack: the parts decode rows into buffers the caller owns and keep little of their own.
constexpr SIZE_T kWorkerStackBytes = 256 * 1024;

DWORD WINAPI WorkerLoop(void* argument) {
  const int32_t part = int32_t(reinterpret_cast<INT_PTR>(argument));
  for (;;) {
    WaitForSingleObject(crew.go[part], INFINITE);
    if (crew.stopping != 0) return 0;
    crew.job(crew.context, part, crew.parts);
    SetEvent(crew.done[part]);
  }
}

void CloseSlot(int32_t k) {
  if (crew.threads[k] != nullptr) CloseHandle(crew.threads[k]);
  if (crew.go[k] != nullptr) CloseHandle(crew.go[k]);
  if (crew.done[k] != nullptr) CloseHandle(crew.done[k]);
  crew.threads[k] = crew.go[k] = crew.done[k] = nullptr;
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
  count = count < 1 ? 1 : count > kMaxWorkers ? kMaxWorkers : count;
  crew.stopping = 0;
  int32_t started = 1;
  for (; started < count; ++started) {
    crew.go[started] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    crew.done[started] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (crew.go[started] != nullptr && crew.done[started] != nullptr) {
      crew.threads[started] = CreateThread(nullptr, kWorkerStackBytes, WorkerLoop,
                                           reinterpret_cast<void*>(INT_PTR(started)),
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (crew.threads[started] == nullptr) {
      CloseSlot(started);
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
  crew.job = job;
  crew.context = context;
  crew.parts = parts;
  for (int32_t k = 1; k < parts; ++k) SetEvent(crew.go[k]);
  job(context, 0, parts);
  if (parts > 1) WaitForMultipleObjects(DWORD(parts - 1), crew.done + 1, TRUE, INFINITE);
}

void PlatformStopWorkers() {
  if (crew.count > 1) {
    InterlockedExchange(&crew.stopping, 1);
    for (int32_t k = 1; k < crew.count; ++k) SetEvent(crew.go[k]);
    WaitForMultipleObjects(DWORD(crew.count - 1), crew.threads + 1, TRUE, INFINITE);
  }
  for (int32_t k = 1; k < crew.count; ++k) CloseSlot(k);
  crew.count = 1;
}
