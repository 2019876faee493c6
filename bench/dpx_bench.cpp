// The DPX reader on full-size frames, beside the I/O floor: the same file opened, the same header
// fields read and the same rows read and passed over with the same calls, but nothing decoded.
// The 16-bit RGB files at 4K and 8K, and the most common DPX of all at 4K: 10-bit method A.
// scripts/bench.sh turns the times into the ratios that matter (decode / floor, options on /
// options off, and an external decoder / ours).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/cold_bench.h"
#include "core/playback.h"
#include "core/viewer_state.h"
#include "formats/dpx_reader.h"
#include "formats/row_walk.h"
#include "platform/file.h"
#include "platform/read_queue.h"
#include "sequence/sequence.h"
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

// A picture like camera footage, beside the one above that uses every code: smooth gradients,
// hard edges between blocks of another brightness, and grain of a few codes.
std::string DpxCameraBenchFile(int32_t k) {
  const int32_t width = BenchWidth(k), height = BenchHeight(k);
  std::vector<Rgb10> pixels(size_t(width), Rgb10{});
  auto fill = [width, height, pixels](uint64_t row, uint8_t* out) mutable {
    const double y = double(row) / height;
    for (int32_t x = 0; x < width; ++x) {
      const double u = double(x) / width;
      const int32_t block = ((x * 6 / width) + int32_t(y * 4)) % 3 * 90;
      const uint32_t grain = uint32_t(x * 2654435761u ^ row * 40503u) >> 29;  // 0..7
      const auto code = [&](double v) {
        const int32_t c = int32_t(v) + block + int32_t(grain) - 3;
        return uint16_t(c < 64 ? 64 : c > 940 ? 940 : c);
      };
      pixels[x] = {code(200 + 300 * u + 100 * std::sin(6 * y)), code(180 + 250 * y + 80 * u),
                   code(150 + 200 * (1 - u) * y)};
    }
    PutDpxRow(pixels.data(), width, out);
  };
  return BenchFile("bench" + std::to_string(k) + "K-camera.dpx",
                   {DpxHeader(uint32_t(width), uint32_t(height)),
                    uint64_t(height),
                    size_t(width) * kDpxBytesPerPixel,
                    fill,
                    {}});
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

enum Picture { kEveryCode, kTenBits, kCamera };

void SetUpDpx(benchmark::State& state, bool options, Picture picture = kEveryCode) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = picture == kTenBits  ? Dpx10BenchFile(k)
                           : picture == kCamera ? DpxCameraBenchFile(k)
                                                : DpxBenchFile(k);
  SetUpViewer(k, int32_t(state.range(1)), options, path);
}

void BM_DpxFrame(benchmark::State& state) {
  SetUpDpx(state, state.range(2) != 0);
  TimeEachRead(state, [] { return ReadDpxFrame() == 0; });
}

void BM_DpxFloor(benchmark::State& state) {
  SetUpDpx(state, false);
  TimeEachRead(state, [] { return ReadDpxRowsOnly(6) >= 0; });
}

// The decode against the floor, options off, one after the other in every iteration: the
// "ratio" counter holds up on a machine whose load changes during the run.
void BM_DpxDecodeOverFloor(benchmark::State& state) {
  SetUpDpx(state, false);
  MeasurePair(
      state, [] { ReadDpxFrame(); }, [] { ReadDpxRowsOnly(6); });
  ResetViewerState();
}

// Both colour options on against both off, in alternation like the pair above, on the picture
// that uses every code and on the camera-like one.
void BM_DpxOptionsOnOverOff(benchmark::State& state) {
  SetUpDpx(state, false, state.range(2) != 0 ? kCamera : kEveryCode);
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
  SetUpDpx(state, false, kTenBits);
  TimeEachRead(state, [] { return ReadDpxFrame() == 0; });
}

void BM_Dpx10Floor(benchmark::State& state) {
  SetUpDpx(state, false, kTenBits);
  TimeEachRead(state, [] { return ReadDpxRowsOnly(4) >= 0; });
}

void BM_Dpx10DecodeOverFloor(benchmark::State& state) {
  SetUpDpx(state, false, kTenBits);
  MeasurePair(
      state, [] { ReadDpxFrame(); }, [] { ReadDpxRowsOnly(4); });
  ResetViewerState();
}

ColdFrame DpxColdFrame(int32_t k, int32_t shift) {
  const std::string path = DpxBenchFile(k);
  SetUpViewer(k, shift, false, path);
  return {{path},
          kDpxImageOffset,
          uint32_t(BenchWidth(k)) * 6,
          BenchHeight(k),
          0,
          int64_t(std::filesystem::file_size(path))};
}
const bool kDpxCold = RegisterColdCases("Dpx", DpxColdFrame, ReadDpxFrame);

// At 1/2, cold: the rows between shown ones read in the same requests, against skipped.
void BM_DpxColdGapsReadOverSkipped(benchmark::State& state) {
  const ColdFrame frame = DpxColdFrame(8, 1);
  double read = 0, skipped = 0;
  for (auto _ : state) {
    for (const bool gaps : {true, false}) {
      FrameReads.ReadGaps = gaps;
      DropFromCache(frame.Paths);
      const double started = WallSeconds();
      ReadDpxFrame();
      (gaps ? read : skipped) += WallSeconds() - started;
      if (gaps) state.SetIterationTime(WallSeconds() - started);
    }
  }
  FrameReads = BenchReads();
  state.counters["ratio"] = skipped > 0 ? read / skipped : 0;
  ResetViewerState();
}

// 24 consecutive 8K frames, cold, through the viewer's own tick (load and decode, no paint) with
// its read-ahead, against the device floor for the same 24 frames.
constexpr int32_t kPlayedFrames = 24;

std::vector<std::string> PlaybackFiles() {
  const std::string first = DpxBenchFile(8);
  const std::filesystem::path folder = std::filesystem::path(kBenchFolder) / "play8K";
  std::filesystem::create_directories(folder);
  std::vector<std::string> paths;
  for (int32_t f = 0; f < kPlayedFrames; ++f) {
    const std::string name = (folder / ("play_" + std::to_string(1000 + f) + ".dpx")).string();
    std::error_code error;
    if (std::filesystem::file_size(name, error) != std::filesystem::file_size(first) || error) {
      std::filesystem::copy_file(first, name, std::filesystem::copy_options::overwrite_existing);
    }
    paths.push_back(name);
  }
  return paths;
}

void BM_DpxColdPlayback(benchmark::State& state) {
  const int32_t shift = int32_t(state.range(0));
  const std::vector<std::string> paths = PlaybackFiles();
  SetUpViewer(8, shift, false, paths[0]);
  if (OpenPath(paths[0].c_str()) || Viewer.FrameCount != kPlayedFrames) {
    state.SkipWithError("the sequence did not open at its size");
  }
  PressPlaybackKey(KeyStepForward);
  // This machine's disk drifts by a fifth over seconds: the floor is taken just before and just
  // after the playback, and their mean set against it.
  const auto floorSeconds = [&] {
    double spent[2] = {};
    for (const std::string& path : paths) {
      const ColdFrame frame = {
          {path}, kDpxImageOffset, 7680 * 6, 4320, 0, int64_t(std::filesystem::file_size(path))};
      for (const bool sequential : {false, true})
        spent[sequential] += FloorSeconds(frame, shift, sequential);
    }
    return std::min(spent[0], spent[1]);
  };
  double played = 0, floor = 0;
  int64_t device = 0;
  for (auto _ : state) {
    const double floorBefore = floorSeconds();
    DropFromCache(paths);
    Viewer.CurrentFrame = kPlayedFrames - 1;  // the first tick shows frame 0
    const int64_t before = DeviceBytesRead();
    const double started = WallSeconds();
    for (int32_t f = 0; f < kPlayedFrames; ++f) {
      bool rebuilt = false;
      if (PlaybackTick(rebuilt) != 0) state.SkipWithError("a tick failed");
    }
    const double took = WallSeconds() - started;
    PlatformDropReadAhead();
    PlatformWaitReadAhead();
    device += DeviceBytesRead() - before;
    played += took;
    floor += (floorBefore + floorSeconds()) / 2;
    state.SetIterationTime(took);
  }
  const double n = double(state.iterations());
  state.counters["fps"] = played > 0 ? kPlayedFrames * n / played : 0;
  state.counters["floor_fps"] = floor > 0 ? kPlayedFrames * n / floor : 0;
  state.counters["ratio"] = played > 0 ? floor / played : 0;
  state.counters["device_mb"] =
      double(device) / n / kPlayedFrames * 1e-6;  // a frame, read-ahead too
  ResetViewerState();
}

const bool kDpxCases = [] {
  RegisterCases("BM_DpxColdGapsReadOverSkipped", BM_DpxColdGapsReadOverSkipped, {}, Timing::kManual)
      ->Iterations(2);
  RegisterCases("BM_DpxColdPlayback", BM_DpxColdPlayback, {{"shift", {2, 0}}}, Timing::kManual)
      ->Iterations(1)
      ->Repetitions(5);
  const BenchArgs sizes = {{"K", {4, 8}}, {"shift", {0, 2}}},
                  sizes4K = {{"K", {4}}, {"shift", {0, 2}}};
  RegisterCases("BM_DpxFrame", BM_DpxFrame, {{"K", {4, 8}}, {"shift", {0, 2}}, {"options", {0, 1}}},
                Timing::kReal);
  RegisterCases("BM_DpxFloor", BM_DpxFloor, sizes, Timing::kReal);
  RegisterCases("BM_DpxDecodeOverFloor", BM_DpxDecodeOverFloor, sizes, Timing::kManual);
  RegisterCases("BM_DpxOptionsOnOverOff", BM_DpxOptionsOnOverOff,
                {{"K", {4, 8}}, {"shift", {0, 2}}, {"camera", {0, 1}}}, Timing::kManual);
  RegisterCases("BM_Dpx10Frame", BM_Dpx10Frame, {{"K", {4}}, {"shift", {0, 2}}, {"options", {0}}},
                Timing::kReal);
  RegisterCases("BM_Dpx10Floor", BM_Dpx10Floor, sizes4K, Timing::kReal);
  RegisterCases("BM_Dpx10DecodeOverFloor", BM_Dpx10DecodeOverFloor, sizes4K, Timing::kManual);
  return true;
}();

}  // namespace
