// Cold runs: before every iteration each file of the frame is dropped from the file cache, so the
// frame comes from the storage as real footage does, and beside it the device floor, the best
// this machine's storage gives for the same bytes, measured in the same iteration.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_files.h"

// The files of one frame and where its rows lie in each.
struct ColdFrame {
  std::vector<std::string> Paths;
  int64_t FirstRow;
  uint32_t RowBytes;
  int32_t Height;
  int64_t Start;  // the frame's bytes in each file, [Start, Start + Bytes): read whole by the floor
  int64_t Bytes;
};

inline void DropFromCache(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) continue;
    fdatasync(fd);  // pages still to be written stay in the cache: a file just written has them
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
}

// What the process has taken from the storage so far: every thread's reads, the system's own
// read-ahead for them included.
inline int64_t DeviceBytesRead() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return int64_t(usage.ru_inblock) * 512;
}

// Processor time of every thread of the process so far.
inline double ProcessSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The file rows shown at the shift, as the viewer picks them: number h - 1 - n a multiple of 2^s.
inline std::vector<int64_t> ShownRows(const ColdFrame& frame, int32_t shift) {
  std::vector<int64_t> rows;
  for (int64_t n = 0; n < frame.Height; ++n) {
    if (((frame.Height - 1 - n) & ((1 << shift) - 1)) == 0) rows.push_back(n);
  }
  return rows;
}

inline int64_t ShownBytes(const ColdFrame& frame, int32_t shift) {
  return int64_t(ShownRows(frame, shift).size()) * frame.RowBytes * int64_t(frame.Paths.size());
}

// One of the two floors, from a cold cache: the shown rows of every file read unbuffered
// (O_DIRECT, 4 KiB aligned) with 32 requests in flight, or each file's frame bytes read in order
// in 8 MiB requests.
inline double FloorSeconds(const ColdFrame& frame, int32_t shift, bool sequential) {
  DropFromCache(frame.Paths);
  std::vector<int> files;
  for (const std::string& path : frame.Paths) {
    files.push_back(open(path.c_str(), O_RDONLY | (sequential ? 0 : O_DIRECT)));
  }
  constexpr int64_t kAlign = 4096, kSequential = 8 << 20;
  struct Range {
    int Fd;
    int64_t Offset, Bytes;
  };
  std::vector<Range> ranges;
  if (sequential) {
    for (int fd : files) {
      for (int64_t at = 0; at < frame.Bytes; at += kSequential) {
        ranges.push_back({fd, frame.Start + at, std::min(kSequential, frame.Bytes - at)});
      }
    }
  } else {
    for (const int64_t n : ShownRows(frame, shift)) {
      for (int fd : files) {
        const int64_t first = frame.FirstRow + n * frame.RowBytes, end = first + frame.RowBytes;
        const int64_t from = first / kAlign * kAlign;
        ranges.push_back({fd, from, (end + kAlign - 1) / kAlign * kAlign - from});
      }
    }
  }
  std::atomic<size_t> next{0};
  const auto reader = [&] {
    void* buffer = nullptr;
    if (posix_memalign(&buffer, kAlign, size_t(kSequential)) != 0) return;
    for (size_t i; (i = next++) < ranges.size();) {
      const Range& r = ranges[i];
      if (pread(r.Fd, buffer, size_t(r.Bytes), r.Offset) < 0) break;
    }
    std::free(buffer);
  };
  const double started = WallSeconds();
  std::vector<std::thread> readers;
  for (int k = 0; k < (sequential ? 1 : 32); ++k) readers.emplace_back(reader);
  for (std::thread& t : readers) t.join();
  const double spent = WallSeconds() - started;
  for (int fd : files) close(fd);
  return spent;
}

// Each iteration: the frame's files dropped, `load` timed and the bytes it took from the storage
// counted, then both floors for the same frame. Counters: "ratio" cold load / floor, "floor_ms",
// "device_mb" and "shown_mb" a frame, and "cpu_ms", the processor time of all its threads.
template <typename Load>
void MeasureCold(benchmark::State& state, const ColdFrame& frame, int32_t shift, Load load) {
  double spent = 0, floor = 0, processor = 0;
  int64_t device = 0;
  for (auto _ : state) {
    DropFromCache(frame.Paths);
    const int64_t before = DeviceBytesRead();
    const double started = WallSeconds(), startedProcessor = ProcessSeconds();
    load();
    const double took = WallSeconds() - started;
    processor += ProcessSeconds() - startedProcessor;
    device += DeviceBytesRead() - before;
    spent += took;
    floor += std::min(FloorSeconds(frame, shift, false), FloorSeconds(frame, shift, true));
    state.SetIterationTime(took);
  }
  const double n = double(state.iterations());
  state.counters["ratio"] = floor > 0 ? spent / floor : 0;
  state.counters["floor_ms"] = floor / n * 1e3;
  state.counters["device_mb"] = double(device) / n * 1e-6;
  state.counters["shown_mb"] = double(ShownBytes(frame, shift)) * 1e-6;
  state.counters["cpu_ms"] = processor / n * 1e3;
}

// Registers BM_<name>Cold for 4K and 8K frames at 1, 1/4 and 1/8: `setUp(k, shift)` readies the
// viewer for the frame and says where it lies, `load` reads it as the viewer does (0 on success).
inline bool RegisterColdCases(const std::string& name, ColdFrame (*setUp)(int32_t, int32_t),
                              int32_t (*load)()) {
  RegisterCases(
      "BM_" + name + "Cold",
      [setUp, load](benchmark::State& state) {
        const int32_t shift = int32_t(state.range(1));
        const ColdFrame frame = setUp(int32_t(state.range(0)), shift);
        MeasureCold(state, frame, shift, [&] {
          if (load() != 0) state.SkipWithError("the load failed");
        });
        ResetViewerState();
      },
      {{"K", {4, 8}}, {"shift", {0, 2, 3}}}, Timing::kManual)
      ->Iterations(2);
  return true;
}
