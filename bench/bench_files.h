// Full-size frame files for the reader benchmarks and the viewer set-up around them.
//
// The files are large (a 4K DPX frame is 50 MB, an 8K one 199 MB), so they are written once into
// a folder of the working directory (scripts/bench.sh runs in build/bench) and kept for later
// runs. Each is read through once before timing starts, so every timed read comes from the page
// cache: the benchmarks measure the viewer, not the disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <time.h>  // clock_gettime: the benchmarks are native-only

#include <benchmark/benchmark.h>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "formats/row_walk.h"
#include "platform/workers.h"
#include "tools/testpattern/row_file.h"

constexpr const char* kBenchFolder = "zelkora-bench-files";

// Reads the whole file once and throws the bytes away: afterwards it sits in the page cache.
inline void WarmPageCache(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  while (in.read(chunk.data(), std::streamsize(chunk.size())) || in.gcount() > 0) {
  }
}

// The path of name in the bench folder, where the file is written unless a file of its size is
// already there. Then warms the page cache with it.
inline std::string BenchFile(const std::string& name, const RowFile& file) {
  std::filesystem::create_directories(kBenchFolder);
  const std::string path = (std::filesystem::path(kBenchFolder) / name).string();
  std::error_code error;
  if (std::filesystem::file_size(path, error) != file.Size() || error) {
    std::fprintf(stderr, "writing %s (%llu bytes)\n", path.c_str(),
                 (unsigned long long)file.Size());
    WriteRowFile(path, file);
  }
  WarmPageCache(path);
  return path;
}

// Frame sizes by the K of the benchmark arguments: 4 or 8.
inline int32_t BenchWidth(int64_t k) {
  return k == 8 ? 7680 : 3840;
}
inline int32_t BenchHeight(int64_t k) {
  return k == 8 ? 4320 : 2160;
}

// A narrow-range code (64 to 940) for any number: frames of these use every code.
inline uint16_t BenchCode(uint64_t v) {
  return uint16_t(64 + v % 877);
}

// Workers for the decode: ZELKORA_BENCH_WORKERS when set (scripts/bench.sh compares 1, 2 and
// 4), else one for each logical processor, as the viewer starts them.
inline int32_t BenchWorkers() {
  const char* forced = std::getenv("ZELKORA_BENCH_WORKERS");
  return forced != nullptr ? std::atoi(forced) : PlatformProcessorCount();
}

// How frames are read: ZELKORA_BENCH_READS="reads in flight,request KiB,KiB in flight" when set
// (to compare choices), else the viewer's own.
inline FrameReadSettings BenchReads() {
  FrameReadSettings reads = kFrameReadDefaults;
  if (const char* forced = std::getenv("ZELKORA_BENCH_READS")) {
    unsigned depth = 0, request = 0, inFlight = 0;
    if (std::sscanf(forced, "%u,%u,%u", &depth, &request, &inFlight) == 3) {
      reads.ReadsInFlight = int32_t(depth);
      reads.RequestBytes = request << 10;
      reads.BytesInFlight = inFlight << 10;
    }
  }
  return reads;
}

// The options of the colour stage, both on or both off.
inline void SetOptions(bool on) {
  Viewer.HdrToSdr = on ? 1 : 0;
  Viewer.Bt709 = on ? 1 : 0;
}

// The state a load finds after the size handshake: colour tables built, the bitmap sized for the
// 4K or 8K frame at shift, both colour options on or off, the path naming the file.
inline void SetUpViewer(int64_t k, int32_t shift, bool options, const std::string& path) {
  ResetViewerState();
  BuildColourTables();
  PlatformStartWorkers(BenchWorkers());
  FrameReads = BenchReads();
  Viewer.SourceWidth = BenchWidth(k);
  Viewer.SourceHeight = BenchHeight(k);
  Viewer.ScaleShift = shift;
  SetOptions(options);
  // The conversion's lookup is filled once when the options first ask for it, not per frame:
  // filled here, it stays out of the frame times (BM_ColourLookupFill times it on its own).
  PrepareColourStage(true, true);
  ResetFrameBuffer();
  path.copy(Viewer.Path, sizeof Viewer.Path - 1);
  Viewer.Path[path.size() < sizeof Viewer.Path ? path.size() : sizeof Viewer.Path - 1] = '\0';
}

// Wall time: a frame decodes on every worker, and the user waits for the last band. (CPU time
// would add the workers' times up and hide what the bands gain.)
inline double WallSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Runs a and b one after the other in every iteration, times a as the iteration (for
// UseManualTime) and reports the "ratio" of their total times. Alternating makes the ratio
// hold up on a shared machine, where load that comes and goes would skew two separate runs.
template <typename A, typename B>
void MeasurePair(benchmark::State& state, A a, B b) {
  double spentA = 0, spentB = 0;
  for (auto _ : state) {
    const double t0 = WallSeconds();
    a();
    const double t1 = WallSeconds();
    b();
    const double t2 = WallSeconds();
    spentA += t1 - t0;
    spentB += t2 - t1;
    state.SetIterationTime(t1 - t0);
  }
  state.counters["ratio"] = spentB > 0 ? spentA / spentB : 0;
}

// Each iteration runs `read` (true when it succeeded), which fills the viewer's bitmap.
template <typename Read>
void TimeEachRead(benchmark::State& state, Read read) {
  for (auto _ : state) {
    if (!read()) state.SkipWithError("the read failed");
    benchmark::DoNotOptimize(Viewer.FramePixels[0]);
  }
  ResetViewerState();
}

// How a case is timed: the wall clock around each iteration, or the time the case sets itself.
enum class Timing { kReal, kManual };
using BenchArgs = std::vector<std::pair<std::string, std::vector<int64_t>>>;

// Registers `run` as `name` in milliseconds, once for every combination of the arguments' values
// (the first one varying fastest); scripts/bench.sh finds the cases by these names.
template <typename Run>
benchmark::internal::Benchmark* RegisterCases(const std::string& name, Run run,
                                              const BenchArgs& args, Timing timing) {
  benchmark::internal::Benchmark* cases = benchmark::RegisterBenchmark(name.c_str(), run);
  std::vector<std::string> names;
  std::vector<std::vector<int64_t>> values;
  for (const auto& [argName, argValues] : args) {
    names.push_back(argName);
    values.push_back(argValues);
  }
  if (!args.empty()) cases->ArgNames(names)->ArgsProduct(values);
  cases->Unit(benchmark::kMillisecond);
  return timing == Timing::kManual ? cases->UseManualTime() : cases->UseRealTime();
}
