// The planar R/G/B reader on full-size frames, beside the I/O floor: the same three plane files
// opened, the same rows read and passed over with the same calls, but nothing decoded.
// The ratio that matters is decode / floor at 1/4, and options on / options off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "core/viewer_state.h"
#include "formats/rgb_planes_reader.h"
#include "formats/row_walk.h"
#include "platform/file.h"

namespace {

constexpr char kPlaneLetters[] = {'r', 'g', 'b'};

// A frame with every code in use, so table lookups do not all hit one cache line, and junk in
// the top four bits of every other word. Returns the path of the "r" plane.
std::string PlanarBenchFiles(int32_t k) {
  const uint32_t width = k == 8 ? 7680 : 3840;
  const uint32_t height = k == 8 ? 4320 : 2160;
  const std::string stem = "bench" + std::to_string(k) + "K.";
  std::string path;
  for (uint32_t plane = 0; plane < 3; ++plane) {
    path = WriteBenchFile(stem + kPlaneLetters[plane], {}, height, size_t(width) * 2,
                          [width, plane](uint32_t row, uint8_t* bytes) {
                            for (uint32_t x = 0; x < width; ++x) {
                              const uint32_t code = 64 + (x * (2 * plane + 1) + row * 3) % 877;
                              StoreBigEndian16(bytes + x * 2, (x & 1) << 15 | code << 2);
                            }
                          });
  }
  return path.substr(0, path.size() - 1) + 'r';
}

// ReadRgbPlanesFrame without the decode: what reading the frame costs at the least.
int32_t ReadPlanarRowsOnly() {
  char* const path = Viewer.Path;
  const size_t length = std::strlen(path);
  PlatformFile planes[3] = {};
  for (int32_t k = 0; k < 3; ++k) {
    path[length - 1] = kPlaneLetters[k];
    planes[k] = PlatformOpenFile(path);
  }
  RowWalk walk;
  int32_t rows = -1;
  if (planes[0] != nullptr && planes[1] != nullptr && planes[2] != nullptr &&
      BeginRowWalk(walk, planes, 3, 2)) {
    rows = 0;
    while (ReadNextShownRow(walk) != nullptr) ++rows;
  }
  for (PlatformFile plane : planes) PlatformCloseFile(plane);
  return rows;
}

void SetUpPlanar(benchmark::State& state, bool options) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = PlanarBenchFiles(k);
  SetUpViewer(k == 8 ? 7680 : 3840, k == 8 ? 4320 : 2160, int32_t(state.range(1)), options, path);
}

void BM_PlanarFrame(benchmark::State& state) {
  SetUpPlanar(state, state.range(2) != 0);
  for (auto _ : state) {
    if (ReadRgbPlanesFrame() != 0) state.SkipWithError("ReadRgbPlanesFrame failed");
    benchmark::DoNotOptimize(Viewer.FramePixels[0]);
  }
  ResetViewerState();
}

void BM_PlanarFloor(benchmark::State& state) {
  SetUpPlanar(state, false);
  for (auto _ : state) {
    if (ReadPlanarRowsOnly() < 0) state.SkipWithError("no rows read");
  }
  ResetViewerState();
}

}  // namespace

BENCHMARK(BM_PlanarFrame)
    ->ArgNames({"K", "shift", "options"})
    ->ArgsProduct({{4, 8}, {0, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanarFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond);
