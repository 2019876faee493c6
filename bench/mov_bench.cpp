// The movie reader on full-size v210 frames, beside the I/O floor: the same file opened, the
// same seeks and the same rows read into the MovRowBuffer with the same calls, but nothing
// unpacked or converted. scripts/bench.sh turns the times into the ratios that matter
// (decode / floor, options on / options off, and an external decoder / ours).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "core/viewer_state.h"
#include "formats/mov_atoms.h"
#include "formats/v210_reader.h"
#include "formats/v210_row.h"
#include "platform/file.h"

namespace {

// Builds nested atoms; End writes the size of the atom that the matching Begin opened.
class Atoms {
 public:
  void Begin(const char* type) {
    open_.push_back(bytes_.size());
    U32(0);
    Type(type);
  }
  void End() {
    StoreBigEndian32(&bytes_[open_.back()], uint32_t(bytes_.size() - open_.back()));
    open_.pop_back();
  }
  void U16(uint32_t v) {
    bytes_.push_back(uint8_t(v >> 8));
    bytes_.push_back(uint8_t(v));
  }
  void U32(uint32_t v) {
    U16(v >> 16);
    U16(v & 0xFFFF);
  }
  void Type(const char* fourcc) { bytes_.insert(bytes_.end(), fourcc, fourcc + 4); }
  void Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void Matrix() {
    for (uint32_t v : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) U32(v);
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<size_t> open_;
};

// Everything of a one-frame movie that comes before the frame, laid out for streaming (the
// movie atom first, the media data last, so the frame rows end the file) and complete enough
// for other readers too: the external comparison decodes the same file.
std::vector<uint8_t> MovBenchHeader(uint32_t width, uint32_t height, uint32_t frameBytes) {
  Atoms a;
  a.Begin("ftyp");
  a.Type("qt  ");
  a.U32(0);
  a.Type("qt  ");
  a.End();
  a.Begin("moov");
  a.Begin("mvhd");
  a.Zeros(12);  // version, flags, creation and modification times
  a.U32(24);    // time scale: one tick per frame at 24 frames a second
  a.U32(1);     // duration
  a.U32(0x10000);
  a.U16(0x100);
  a.Zeros(10);
  a.Matrix();
  a.Zeros(24);
  a.U32(2);  // next track id
  a.End();
  a.Begin("trak");
  a.Begin("tkhd");
  a.U32(3);  // enabled, in movie
  a.Zeros(8);
  a.U32(1);  // track id
  a.U32(0);
  a.U32(1);  // duration
  a.Zeros(16);
  a.Matrix();
  a.U32(width << 16);
  a.U32(height << 16);
  a.End();
  a.Begin("mdia");
  a.Begin("mdhd");
  a.Zeros(12);
  a.U32(24);
  a.U32(1);
  a.U16(0x7FFF);
  a.U16(0);
  a.End();
  a.Begin("hdlr");
  a.U32(0);
  a.Type("mhlr");
  a.Type("vide");
  a.Zeros(13);  // manufacturer, flags, mask, empty name
  a.End();
  a.Begin("minf");
  a.Begin("vmhd");
  a.U32(1);
  a.Zeros(8);
  a.End();
  a.Begin("dinf");
  a.Begin("dref");
  a.U32(0);
  a.U32(1);
  a.Begin("alis");
  a.U32(1);  // the media data are in this file
  a.End();
  a.End();
  a.End();
  a.Begin("stbl");
  a.Begin("stsd");
  a.U32(0);
  a.U32(1);
  a.Begin("v210");
  a.Zeros(6);
  a.U16(1);  // data reference index
  a.Zeros(16);
  a.U16(width);
  a.U16(height);
  a.U32(0x480000);  // 72 dpi
  a.U32(0x480000);
  a.U32(0);
  a.U16(1);  // frames per sample
  a.Zeros(32);
  a.U16(24);  // depth
  a.U16(0xFFFF);
  a.End();
  a.End();
  a.Begin("stts");
  a.U32(0);
  a.U32(1);
  a.U32(1);
  a.U32(1);
  a.End();
  a.Begin("stsc");
  a.U32(0);
  a.U32(1);
  a.U32(1);
  a.U32(1);
  a.U32(1);
  a.End();
  a.Begin("stsz");
  a.U32(0);
  a.U32(frameBytes);  // one size for every sample: no table follows
  a.U32(1);
  a.End();
  a.Begin("stco");
  a.U32(0);
  a.U32(1);
  const size_t chunkOffsetAt = a.Bytes().size();
  a.U32(0);  // the media data start, known once the movie atom is complete
  a.End();
  a.End();  // stbl
  a.End();  // minf
  a.End();  // mdia
  a.End();  // trak
  a.End();  // moov
  a.U32(8 + frameBytes);
  a.Type("mdat");
  StoreBigEndian32(&a.Bytes()[chunkOffsetAt], uint32_t(a.Bytes().size()));
  return a.Bytes();
}

void StoreLittleEndian32(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v);
  at[1] = uint8_t(v >> 8);
  at[2] = uint8_t(v >> 16);
  at[3] = uint8_t(v >> 24);
}

// A frame with every code from 64 to 940 in use, so the conversion sees all kinds of colour and
// the option tables do not all hit one cache line.
std::string MovBenchFile(int32_t k) {
  const uint32_t width = k == 8 ? 7680 : 3840;
  const uint32_t height = k == 8 ? 4320 : 2160;
  const V210RowGeometry geometry = GetV210RowGeometry(int32_t(width));
  const uint32_t frameBytes = uint32_t(geometry.stride) * height;
  return WriteBenchFile(
      "bench" + std::to_string(k) + "K.mov", MovBenchHeader(width, height, frameBytes), height,
      size_t(geometry.stride), [geometry](uint32_t row, uint8_t* bytes) {
        auto y = [row](uint32_t x) { return 64 + (x + row) % 877; };
        auto cb = [row](uint32_t c) { return 64 + (c * 3 + row * 5) % 897; };
        auto cr = [row](uint32_t c) { return 64 + (c * 7 + row * 2) % 897; };
        for (uint32_t g = 0; g < uint32_t(geometry.groups); ++g, bytes += 16) {
          const uint32_t x = g * 6, c = g * 3;
          StoreLittleEndian32(bytes, cb(c) | y(x) << 10 | cr(c) << 20);
          StoreLittleEndian32(bytes + 4, y(x + 1) | cb(c + 1) << 10 | y(x + 2) << 20);
          StoreLittleEndian32(bytes + 8, cr(c + 1) | y(x + 3) << 10 | cb(c + 2) << 20);
          StoreLittleEndian32(bytes + 12, y(x + 4) | cr(c + 2) << 10 | y(x + 5) << 20);
        }
      });
}

// ReadMovFrame without the unpacking and conversion: what reading the frame costs at the least.
int32_t ReadMovRowsOnly() {
  const int32_t height = Viewer.SourceHeight;
  const uint32_t stride = uint32_t(GetV210RowGeometry(Viewer.SourceWidth).stride);
  const int32_t shownMask = (int32_t(1) << Viewer.ScaleShift) - 1;
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  const int64_t frameStart =
      MovFrameOffset(Viewer.MovDataOffset, Viewer.MovSampleSize, Viewer.CurrentFrame);
  PlatformSeekFile(file, frameStart, SeekFromStart);
  int32_t rows = 0;
  for (int32_t r = height - 1; r >= 0; --r) {
    if ((r & shownMask) != 0) {
      PlatformSeekFile(file, stride, SeekFromCurrent);
      continue;
    }
    PlatformReadFile(file, Viewer.MovRowBuffer, stride);
    ++rows;
  }
  benchmark::DoNotOptimize(Viewer.MovRowBuffer[0]);
  PlatformCloseFile(file);
  return rows;
}

// The viewer after a movie was opened and the size handshake done: the movie facts from the
// atom scan, the bitmap sized for the frame.
void SetUpMov(benchmark::State& state, bool options) {
  const int32_t k = int32_t(state.range(0));
  const std::string path = MovBenchFile(k);
  SetUpViewer(k == 8 ? 7680 : 3840, k == 8 ? 4320 : 2160, int32_t(state.range(1)), options, path);
  if (ScanMovAtoms() != 1) state.SkipWithError("the atom scan does not find the one frame");
}

void SetOptions(bool on) {
  Viewer.HdrToSdr = on ? 1 : 0;
  Viewer.Bt709 = on ? 1 : 0;
}

void BM_MovFrame(benchmark::State& state) {
  SetUpMov(state, state.range(2) != 0);
  for (auto _ : state) {
    if (ReadMovFrame() != 0) state.SkipWithError("ReadMovFrame failed");
    benchmark::DoNotOptimize(Viewer.FramePixels[0]);
  }
  ResetViewerState();
}

void BM_MovFloor(benchmark::State& state) {
  SetUpMov(state, false);
  for (auto _ : state) {
    if (ReadMovRowsOnly() < 0) state.SkipWithError("no rows read");
  }
  ResetViewerState();
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

}  // namespace

BENCHMARK(BM_MovFrame)
    ->ArgNames({"K", "shift", "options"})
    ->ArgsProduct({{4, 8}, {0, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MovFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MovDecodeOverFloor)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_MovOptionsOnOverOff)
    ->ArgNames({"K", "shift"})
    ->ArgsProduct({{4, 8}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
