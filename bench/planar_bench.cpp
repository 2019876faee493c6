// The planar R/G/B reader on full-size frames, beside the I/O floor: the same three plane files
// opened, the same rows read and passed over with the same calls, but nothing decoded.
// The ratio that matters is decode / floor at 1/4, and options on / options off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/cold_bench.h"
#include "core/viewer_state.h"
#include "formats/rgb_planes_reader.h"
#include "formats/row_walk.h"
#include "platform/file.h"
#include "tools/testpattern/planar_file.h"

namespace {

constexpr char kPlaneLetters[] = {'r', 'g', 'b'};

// A frame with every code in use, so table lookups do not all hit one cache line, and junk in
// the top four bits of some words. Returns the path of the "r" plane.
std::string PlanarBenchFiles(int32_t k) {
  const int32_t width = BenchWidth(k), height = BenchHeight(k);
  std::string path;
  for (int32_t plane = 2; plane >= 0; --plane) {  // r last: path names it
    std::vector<Rgb10> pixels(size_t(width), Rgb10{});
    auto fill = [width, plane, pixels](uint64_t row, uint8_t* out) mutable {
      for (int32_t x = 0; x < width; ++x) {
        pixels[x] = {BenchCode(x + row * 3), BenchCode(x * 3 + row * 3),
                     BenchCode(x * 5 + row * 3)};
      }
      PutPlanarRow(pixels.data(), width, int32_t(row), plane, out);
    };
    path = BenchFile("bench" + std::to_string(k) + "K." + kPlaneLetters[plane],
                     {{}, uint64_t(height), size_t(width) * kPlanarBytesPerSample, fill, {}});
  }
  return path;
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
  FrameRows frame = {};
  for (int32_t k = 0; k < 3; ++k) frame.Files[k] = planes[k];
  frame.FileCount = 3;
  frame.RowBytes = uint32_t(Viewer.SourceWidth) * 2;
  frame.Missing = &kZeroRowBytes;
  const bool open = planes[0] != nullptr && planes[1] != nullptr && planes[2] != nullptr;
  const int32_t rows = open ? ReadFrameRowsOnly(frame) : -1;
  for (PlatformFile plane : planes) PlatformCloseFile(plane);
  return rows;
}

void SetUpPlanar(benchmark::State& state, bool options) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = PlanarBenchFiles(k);
  SetUpViewer(k, int32_t(state.range(1)), options, path);
}

void BM_PlanarFrame(benchmark::State& state) {
  SetUpPlanar(state, state.range(2) != 0);
  TimeEachRead(state, [] { return ReadRgbPlanesFrame() == 0; });
}

void BM_PlanarFloor(benchmark::State& state) {
  SetUpPlanar(state, false);
  TimeEachRead(state, [] { return ReadPlanarRowsOnly() >= 0; });
}

ColdFrame PlanarColdFrame(int32_t k, int32_t shift) {
  const std::string path = PlanarBenchFiles(k);
  SetUpViewer(k, shift, false, path);
  ColdFrame frame = {{}, 0, uint32_t(BenchWidth(k)) * 2, BenchHeight(k), 0, 0};
  frame.Bytes = int64_t(frame.RowBytes) * frame.Height;
  for (const char plane : kPlaneLetters)
    frame.Paths.push_back(path.substr(0, path.size() - 1) + plane);
  return frame;
}
const bool kPlanarCold = RegisterColdCases("Planar", PlanarColdFrame, ReadRgbPlanesFrame);

const bool kPlanarCases = [] {
  RegisterCases("BM_PlanarFrame", BM_PlanarFrame,
                {{"K", {4, 8}}, {"shift", {0, 2}}, {"options", {0, 1}}}, Timing::kReal);
  RegisterCases("BM_PlanarFloor", BM_PlanarFloor, {{"K", {4, 8}}, {"shift", {0, 2}}},
                Timing::kReal);
  return true;
}();

}  // namespace
