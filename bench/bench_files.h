// Full-size frame files for the reader benchmarks and the viewer set-up around them.
//
// The files are large (a 4K DPX frame is 50 MB, an 8K one 199 MB), so they are written once into
// a folder of the working directory (scripts/bench.sh runs in build/bench) and kept for later
// runs. Each is read through once before timing starts, so every timed read comes from the page
// cache: the benchmarks measure the viewer, not the disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>  // clock_gettime: the benchmarks are native-only

#include <benchmark/benchmark.h>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"

constexpr const char* kBenchFolder = "zelkora-bench-files";

inline void StoreBigEndian16(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v >> 8);
  at[1] = uint8_t(v);
}
inline void StoreBigEndian32(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v >> 24);
  at[1] = uint8_t(v >> 16);
  at[2] = uint8_t(v >> 8);
  at[3] = uint8_t(v);
}

// Reads the whole file once and throws the bytes away: afterwards it sits in the page cache.
inline void WarmPageCache(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  while (in.read(chunk.data(), std::streamsize(chunk.size())) || in.gcount() > 0) {
  }
}

// The path of name in the bench folder. Unless a file of exactly size bytes is already there,
// writes it: the header bytes, then rowCount rows, each filled by fillRow(row, bytes) into a
// buffer of rowBytes. Then warms the page cache with it.
template <typename FillRow>
std::string WriteBenchFile(const std::string& name, const std::vector<uint8_t>& header,
                           uint32_t rowCount, size_t rowBytes, FillRow fillRow) {
  std::filesystem::create_directories(kBenchFolder);
  const std::string path = (std::filesystem::path(kBenchFolder) / name).string();
  const uint64_t size = header.size() + uint64_t(rowCount) * rowBytes;
  std::error_code error;
  if (std::filesystem::file_size(path, error) != size || error) {
    std::fprintf(stderr, "writing %s (%llu bytes)\n", path.c_str(), (unsigned long long)size);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t r = 0; r < rowCount; ++r) {
      fillRow(r, row.data());
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(rowBytes));
    }
  }
  WarmPageCache(path);
  return path;
}

// The state a load finds after the size handshake: colour tables built, the bitmap sized for
// width x height at shift, both colour options on or off, the path naming the file.
inline void SetUpViewer(int32_t width, int32_t height, int32_t shift, bool options,
                        const std::string& path) {
  ResetViewerState();
  BuildColourTables();
  Viewer.SourceWidth = width;
  Viewer.SourceHeight = height;
  Viewer.ScaleShift = shift;
  Viewer.HdrToSdr = options ? 1 : 0;
  Viewer.Bt709 = options ? 1 : 0;
  ResetFrameBuffer();
  path.copy(Viewer.Path, sizeof Viewer.Path - 1);
  Viewer.Path[path.size() < sizeof Viewer.Path ? path.size() : sizeof Viewer.Path - 1] = '\0';
}

// CPU time of this thread, user and system: the page-cache copies are system time.
inline double ThreadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Runs a and b one after the other in every iteration, times a as the iteration (for
// UseManualTime) and reports the "ratio" of their total CPU times. Alternating makes the ratio
// hold up on a shared machine, where load that comes and goes would skew two separate runs.
template <typename A, typename B>
void MeasurePair(benchmark::State& state, A a, B b) {
  double spentA = 0, spentB = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    a();
    const double t1 = ThreadCpuSeconds();
    b();
    const double t2 = ThreadCpuSeconds();
    spentA += t1 - t0;
    spentB += t2 - t1;
    state.SetIterationTime(t1 - t0);
  }
  state.counters["ratio"] = spentB > 0 ? spentA / spentB : 0;
}
