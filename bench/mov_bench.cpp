// The movie reader on full-size v210 frames, beside the I/O floor: the same file opened, the
// same seeks and the same rows read into the MovRowBuffer with the same calls, but nothing
// unpacked or converted. scripts/bench.sh turns the times into the ratios that matter
// (decode / floor, options on / options off, and an external decoder / ours).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/cold_bench.h"
#include "core/viewer_state.h"
#include "formats/mov_atoms.h"
#include "formats/row_walk.h"
#include "formats/v210_reader.h"
#include "formats/v210_row.h"
#include "platform/file.h"
#include "tools/testpattern/movie_file.h"
#include "tools/testpattern/v210_pack.h"

namespace {

// A frame with every code from 64 to 940 in use, so the conversion sees all kinds of colour and
// the option tables do not all hit one cache line. The movie atom comes first, so the frame rows
// end the file; other readers take it too: the external comparison decodes the same file.
std::string MovBenchFile(int32_t k) {
  const int32_t width = BenchWidth(k);
  std::vector<YCbCr10> pixels(size_t(GetV210RowGeometry(width).LumaSamples));
  auto fill = [width, pixels](uint64_t row, uint8_t* out) mutable {
    for (uint64_t x = 0; x < pixels.size(); ++x) {
      const uint64_t c = x / 2;  // the chroma of a pixel pair
      pixels[x] = {BenchCode(x + row), uint16_t(64 + (c * 3 + row * 5) % 897),
                   uint16_t(64 + (c * 7 + row * 2) % 897)};
    }
    PackV210Row(pixels.data(), width, out);
  };
  return BenchFile("bench" + std::to_string(k) + "K.mov",
                   MovieFile({width, BenchHeight(k), 1, false, true}, fill));
}

// ReadMovFrame without the unpacking and conversion: what reading the frame costs at the least.
int32_t ReadMovRowsOnly() {
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  FrameRows frame = {};
  frame.Files[0] = file;
  frame.FileCount = 1;
  frame.FirstRow = MovFrameStart(Viewer.CurrentFrame);
  frame.RowBytes = uint32_t(GetV210RowGeometry(Viewer.SourceWidth).Stride);
  frame.Missing = &kV210BlackRowBytes;
  const int32_t rows = ReadFrameRowsOnly(frame);
  PlatformCloseFile(file);
  return rows;
}

// The viewer after a movie was opened and the size handshake done: the movie facts from the
// atom scan, the bitmap sized for the frame.
void SetUpMov(benchmark::State& state, bool options) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = MovBenchFile(k);
  SetUpViewer(k, int32_t(state.range(1)), options, path);
  if (ScanMovAtoms() != 1) state.SkipWithError("the atom scan does not find the one frame");
}

void BM_MovFrame(benchmark::State& state) {
  SetUpMov(state, state.range(2) != 0);
  TimeEachRead(state, [] { return ReadMovFrame() == 0; });
}

void BM_MovFloor(benchmark::State& state) {
  SetUpMov(state, false);
  TimeEachRead(state, [] { return ReadMovRowsOnly() >= 0; });
}

// The decode against the floor, options off, one after the other in every iteration: the
// "ratio" counter holds up on a machine whose load changes during the run.
void BM_MovDecodeOverFloor(benchmark::State& state) {
  SetUpMov(state, false);
  MeasurePair(
      state, [] { ReadMovFrame(); }, [] { ReadMovRowsOnly(); });
  ResetViewerState();
}

// Both colour options on against both off, in alternation like the pair above.
void BM_MovOptionsOnOverOff(benchmark::State& state) {
  SetUpMov(state, false);
  MeasurePair(
      state,
      [] {
        SetOptions(true);
        ReadMovFrame();
      },
      [] {
        SetOptions(false);
        ReadMovFrame();
      });
  ResetViewerState();
}

ColdFrame MovColdFrame(int32_t k, int32_t shift) {
  const std::string path = MovBenchFile(k);
  SetUpViewer(k, shift, false, path);
  ScanMovAtoms();
  const uint32_t stride = uint32_t(GetV210RowGeometry(BenchWidth(k)).Stride);
  const int64_t start = MovFrameStart(0);
  return {{path}, start, stride, BenchHeight(k), start, int64_t(stride) * BenchHeight(k)};
}
const bool kMovCold = RegisterColdCases("Mov", MovColdFrame, ReadMovFrame);

const bool kMovCases = [] {
  const BenchArgs sizes = {{"K", {4, 8}}, {"shift", {0, 2}}};
  RegisterCases("BM_MovFrame", BM_MovFrame, {{"K", {4, 8}}, {"shift", {0, 2}}, {"options", {0, 1}}},
                Timing::kReal);
  RegisterCases("BM_MovFloor", BM_MovFloor, sizes, Timing::kReal);
  RegisterCases("BM_MovDecodeOverFloor", BM_MovDecodeOverFloor, sizes, Timing::kManual);
  RegisterCases("BM_MovOptionsOnOverOff", BM_MovOptionsOnOverOff, sizes, Timing::kManual);
  return true;
}();

}  // namespace
