// The DPX reader on full-size frames, beside the I/O floor: the same file opened, the same header
// fields read and the same rows read and passed over with the same calls, but nothing decoded.
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

namespace {

constexpr uint32_t kImageOffset = 2048;

// A header complete enough for other DPX readers too (the external comparison decodes the same
// file): version, sizes of the header parts, no encryption, one image element of 16-bit RGB,
// descriptor 50, unpacked, unencoded.
std::vector<uint8_t> DpxBenchHeader(uint32_t width, uint32_t height) {
  std::vector<uint8_t> h(kImageOffset, 0);
  StoreBigEndian32(&h[0], 0x53445058);  // "SDPX"
  StoreBigEndian32(&h[4], kImageOffset);
  h[8] = 'V', h[9] = '2', h[10] = '.', h[11] = '0';
  StoreBigEndian32(&h[16], kImageOffset + width * height * 6);  // file size
  StoreBigEndian32(&h[20], 1);                                  // ditto key: new frame
  StoreBigEndian32(&h[24], 1664);                               // generic header size
  StoreBigEndian32(&h[28], 384);                                // industry header size
  StoreBigEndian32(&h[660], 0xFFFFFFFF);                        // not encrypted
  StoreBigEndian16(&h[770], 1);                                 // one image element
  StoreBigEndian32(&h[772], width);
  StoreBigEndian32(&h[776], height);
  StoreBigEndian32(&h[792], 1023);  // reference high code
  h[800] = 50;                      // descriptor: R, G, B
  h[801] = 2;                       // transfer: linear
  h[802] = 2;                       // colorimetric: linear
  h[803] = 16;                      // bits per sample
  StoreBigEndian32(&h[808], kImageOffset);
  return h;
}

// A frame with every code in use, so table lookups do not all hit one cache line.
std::string DpxBenchFile(int32_t k) {
  const uint32_t width = k == 8 ? 7680 : 3840;
  const uint32_t height = k == 8 ? 4320 : 2160;
  return WriteBenchFile("bench" + std::to_string(k) + "K.dpx", DpxBenchHeader(width, height),
                        height, size_t(width) * 6, [width](uint32_t row, uint8_t* bytes) {
                          for (uint32_t x = 0; x < width; ++x) {
                            const uint32_t r = 64 + (x + row) % 877;
                            const uint32_t g = 64 + (x * 3 + row * 5) % 877;
                            const uint32_t b = 64 + (x * 7 + row * 2) % 877;
                            StoreBigEndian16(bytes + x * 6, r << 6);
                            StoreBigEndian16(bytes + x * 6 + 2, g << 6);
                            StoreBigEndian16(bytes + x * 6 + 4, b << 6);
                          }
                        });
}

// ReadDpxFrame without the decode: what reading the frame costs at the least.
int32_t ReadDpxRowsOnly() {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  uint8_t field[8];
  PlatformReadFile(file, field, 8);
  PlatformSeekFile(file, 772, SeekFromStart);
  PlatformReadFile(file, field, 8);
  RowWalk walk;
  int32_t rows = -1;
  if (BeginRowWalk(walk, &file, 1, 6)) {
    PlatformSeekFile(file, kImageOffset, SeekFromStart);
    rows = 0;
    while (ReadNextShownRow(walk) != nullptr) ++rows;
  }
  PlatformCloseFile(file);
  return rows;
}

void SetUpDpx(benchmark::State& state, bool options) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = DpxBenchFile(k);
  SetUpViewer(k == 8 ? 7680 : 3840, k == 8 ? 4320 : 2160, int32_t(state.range(1)), options, path);
}

void SetOptions(bool on) {
  Viewer.HdrToSdr = on ? 1 : 0;
  Viewer.Bt709 = on ? 1 : 0;
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
    if (ReadDpxRowsOnly() < 0) state.SkipWithError("no rows read");
  }
  ResetViewerState();
}

// The decode against the floor, options off, one after the other in every iteration: the
// "ratio" counter holds up on a machine whose load changes during the run.
void BM_DpxDecodeOverFloor(benchmark::State& state) {
  SetUpDpx(state, false);
  MeasurePair(
      state, [] { ReadDpxFrame(); }, [] { ReadDpxRowsOnly(); });
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

}  // namespace

BENCHMARK(BM_DpxFrame)
    ->ArgNames({"K", "shift", "options"})
    ->ArgsProduct({{4, 8}, {0, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DpxFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond);
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
