// The DPX reader on full-size frames, beside the I/O floor: the same file opened, the same header
// fields read and the same rows read and passed over with the same calls, but nothing decoded.
// The 16-bit RGB files at 4K and 8K, and the most common DPX of all at 4K: 10-bit method A.
// scripts/bench.sh turns the times into the ratios that matter (decode / floor, options on /
// options off, and an external decoder / ours).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "core/viewer_state.h"
#include "formats/dpx_reader.h"
#include "formats/row_walk.h"
#include "platform/file.h"
#include "tools/testpattern/dpx_file.h"

namespace {

// A frame with every code in use, so table lookups do not all hit one cache line. The header is
// complete enough for other DPX readers too: the external comparison decodes the same file.
std::string DpxBenchFile(int32_t k) {
  const int32_t width = BenchWidth(k), height = BenchHeight(k);
  std::vector<Rgb10> pixels(size_t(width), Rgb10{});
  auto fill = [width, pixels](uint64_t row, uint8_t* out) mutable {
    for (int32_t x = 0; x < width; ++x) {
      pixels[x] = {BenchCode(x + row), BenchCode(x * 3 + row * 5), BenchCode(x * 7 + row * 2)};
    }
    PutDpxRow(pixels.data(), width, out);
  };
  return BenchFile("bench" + std::to_string(k) + "K.dpx",
                   {DpxHeader(uint32_t(width), uint32_t(height)),
                    uint64_t(height),
                    size_t(width) * kDpxBytesPerPixel,
                    fill,
                    {}});
}

// The same picture, 10-bit RGB filled to 32-bit words by method A: one word a pixel.
std::string Dpx10BenchFile(int32_t k) {
  const int32_t width = BenchWidth(k);
  const auto picture = [width](int32_t y, Rgb10* row) {
    const uint64_t r = uint64_t(y);
    for (int32_t x = 0; x < width; ++x) {
      row[x] = {BenchCode(x + r), BenchCode(x * 3 + r * 5), BenchCode(x * 7 + r * 2)};
    }
  };
  return BenchFile("bench" + std::to_string(k) + "K-10.dpx",
                   DpxLayoutFile({50, 10, 1}, width, BenchHeight(k), picture));
}

// ReadDpxFrame without the decode: what reading the frame costs at the least.
int32_t ReadDpxRowsOnly(uint32_t bytesPerPixel) {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  uint8_t header[1408];  // through the image elements, as the reader reads it
  PlatformReadFile(file, header, sizeof header);
  FrameRows frame = {};
  frame.Files[0] = file;
  frame.FileCount = 1;
  frame.FirstRow = kDpxImageOffset;
  frame.RowBytes = uint32_t(Viewer.SourceWidth) * bytesPerPixel;
  frame.Missing = &kZeroRowBytes;
  const int32_t rows = ReadFrameRowsOnly(frame);
  PlatformCloseFile(file);
  return rows;
}

void SetUpDpx(benchmark::State& state, bool options, bool tenBits = false) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = tenBits ? Dpx10BenchFile(k) : DpxBenchFile(k);
  SetUpViewer(k, int32_t(state.range(1)), options, path);
}

void BM_DpxFrame(benchmark::State& state) {
  SetUpDpx(state, state.range(2) != 0);
  for (auto _ : state) {
    if (ReadDpxFrame() != 0) state.SkipWithError("ReadDpxFrame failed");
    benchmark::DoNotOptimize(Viewer.FramePixels[0]);
  }
  ResetViewerState();
}

void BM_DpxFloor(benchmark::State& state) {
  SetUpDpx(state, false);
  for (auto _ : state) {
    if (ReadDpxRowsOnly(6) < 0) state.SkipWithError("no rows read");
  }
  ResetViewerState();
}

// The decode against the floor, options off, one after the other in every iteration: the
// "ratio" counter holds up on a machine whose load changes during the run.
void BM_DpxDecodeOverFloor(benchmark::State& state) {
  SetUpDpx(state, false);
  MeasurePair(
      state, [] { ReadDpxFrame(); }, [] { ReadDpxRowsOnly(6); });
  ResetViewerState();
}

// Both colour options on against both off, in alternation like the pair above.
void BM_DpxOptionsOnOverOff(benchmark::State& state) {
  SetUpDpx(state, false);
  MeasurePair(
      state,
      [] {
        SetOptions(true);
        ReadDpxFrame();
      },
      [] {
        SetOptions(false);
        ReadDpxFrame();
      });
  ResetViewerState();
}

void BM_Dpx10Frame(benchmark::State& state) {
  SetUpDpx(state, false, true);
  for (auto _ : state) {
    if (ReadDpxFrame() != 0) state.SkipWithError("ReadDpxFrame failed");
    benchmark::DoNotOptimize(Viewer.FramePixels[0]);
  }
  ResetViewerState();
}

void BM_Dpx10Floor(benchmark::State& state) {
  SetUpDpx(state, false, true);
  for (auto _ : state) {
    if (ReadDpxRowsOnly(4) < 0) state.SkipWithError("no rows read");
  }
  ResetViewerState();
}

void BM_Dpx10DecodeOverFloor(benchmark::State& state) {
  SetUpDpx(state, false, true);
  MeasurePair(
      state, [] { ReadDpxFrame(); }, [] { ReadDpxRowsOnly(4); });
  ResetViewerState();
}

}  // namespace

BENCHMARK(BM_DpxFrame)
    ->ArgNames({"K", "shift", "options"})
    ->ArgsProduct({{4, 8}, {0, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DpxFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DpxDecodeOverFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_DpxOptionsOnOverOff)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_Dpx10Frame)
    ->ArgNames({"K", "shift", "options"})
    ->ArgsProduct({{4}, {0, 2}, {0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Dpx10Floor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Dpx10DecodeOverFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
