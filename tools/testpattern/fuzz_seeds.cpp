// The starting inputs of the fuzz targets: small files of every layout in each target's input
// format (see the comment at the top of each tests/fuzz/fuzz_*.cpp), a few near misses, and the
// heads of real 4K files. All show the test picture, small ones included.
#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tools/testpattern/atoms.h"
#include "tools/testpattern/dpx_file.h"
#include "tools/testpattern/pattern_files.h"

namespace {

using Files = std::vector<std::pair<std::string, Bytes>>;

Bytes Dpx(uint32_t width, uint32_t height, uint32_t imageOffset = kDpxImageOffset,
          uint64_t rows = ~uint64_t(0)) {
  RowFile file = PatternDpx(int32_t(width), int32_t(height), 1);
  file.Head = DpxMinimalHeader(width, height, imageOffset);
  file.RowCount = std::min(file.RowCount, rows);
  return RowFileBytes(file);
}

// The test picture in another DPX layout.
Bytes Dpx(const DpxFileLayout& layout, int32_t width, int32_t height) {
  const PatternLayout pattern = MakePatternLayout(width, height, 1);
  const auto rows = [&pattern](int32_t y, Rgb10* row) { RenderPatternRow(pattern, y, row); };
  return RowFileBytes(DpxLayoutFile(layout, width, height, rows));
}

Bytes Plane(int32_t width, int32_t height, int32_t plane) {
  return RowFileBytes(PatternPlane(width, height, 1, plane));
}

// Movies of 48 x 16 frames (2048 bytes each): the seeds below that should reach the frame reader
// give their sample table the 4K sample size, so frames decode from the first bytes and show
// black where the file ends.
RowFile SmallMovie(uint32_t frames, bool mdat64 = false, bool moovFirst = false) {
  return PatternMovie({48, 16, frames, mdat64, moovFirst}, 1);
}

// The movie with another sample size in its stsz: 0 asks for a size table that is not there.
Bytes WithSampleSize(Bytes movie, uint32_t sampleSize) {
  PatchAtomField(movie, "stsz", 4, sampleSize);  // after version and flags
  return movie;
}

// A small movie as recorders write one: a timecode sample first, then the picture (50 x 6, odd
// width, a table of sizes, two frames to a chunk) and sound interleaved; co64 for 64-bit offsets.
Bytes TrackedMovie(bool co64) {
  MovieTrack timecode{"tmcd", "tmcd", 0, 0, 1, 4}, sound{"soun", "sowt", 0, 0, 3, 1602};
  MovieTrack picture{"vide", "v210", 50, 6, 3, 0, 2, true, co64};
  Bytes movie;
  const auto fill = [](size_t, uint32_t s, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 7 + s);
  };
  for (const auto& piece : TrackedMovieFile({timecode, picture, sound}, fill)) {
    movie.insert(movie.end(), piece.second.begin(), piece.second.end());  // no hole between
  }
  return movie;
}

// The inputs of the targets: a control byte, then as each target's comment says.
Bytes DpxInput(uint8_t control, const Bytes& file) {
  return Join({{control}, file});
}

Bytes PlanesInput(uint8_t control, const char* sizeTag, uint16_t width, uint16_t height,
                  const Bytes& r, const Bytes& g, const Bytes& b) {
  Bytes head = {control, uint8_t(sizeTag[0]), uint8_t(sizeTag[1]), uint8_t(sizeTag[2])};
  for (size_t v : {size_t(width), size_t(height), r.size(), g.size()}) {
    PutBigEndian16(head, head.size(), uint16_t(v));
  }
  return Join({head, r, g, b});
}

Bytes MovInput(int32_t frame, const Bytes& movie, uint8_t control = 0) {
  Bytes head = {control};
  PutBigEndian32(head, 1, uint32_t(frame));
  return Join({head, movie});
}

Bytes SequenceInput(uint8_t control, const std::string& opened, const Files& files) {
  Bytes input = {control};
  input.insert(input.end(), opened.c_str(), opened.c_str() + opened.size() + 1);
  for (const auto& [name, contents] : files) {
    input.insert(input.end(), name.c_str(), name.c_str() + name.size() + 1);
    PutBigEndian16(input, input.size(), uint16_t(contents.size()));
    input.insert(input.end(), contents.begin(), contents.end());
  }
  return input;
}

}  // namespace

int WriteFuzzSeeds(const std::string& outDir) {
  const Bytes dpx = Dpx(16, 8);
  const Bytes r = Plane(16, 8, 0), g = Plane(16, 8, 1), b = Plane(16, 8, 2);
  const Bytes movie = WithSampleSize(RowFileBytes(SmallMovie(3)), 22118400);
  const RowFile cutMovie = SmallMovie(1, false, true);
  const Bytes cutMovieBytes = RowFileBytes(cutMovie, cutMovie.Head.size() + 700);
  // Heads of real 4K files: the real header layout with the first rows of the picture.
  const Bytes dpx4kHead = RowFileBytes(PatternDpx(3840, 2160, 1), 8192 + 3840 * 6 * 2);
  Bytes planes4k[3];
  for (int32_t plane = 0; plane < 3; ++plane) {
    planes4k[plane] = RowFileBytes(PatternPlane(3840, 2160, 1, plane), 3840 * 2 * 2);
  }
  const std::string multibyte = "ショット_0001.dpx";

  const Files seeds = {
      {"dpx/64x32-decodes-first-call", DpxInput(0x00, Dpx(64, 32))},
      {"dpx/16x8-handshake", DpxInput(0x01, dpx)},
      {"dpx/16x8-offset-780", DpxInput(0x10, Dpx(16, 8, 780))},
      {"dpx/33x17-odd", DpxInput(0xE2, Dpx(33, 17))},
      {"dpx/7680x2-widest", DpxInput(0x00, Dpx(7680, 2, kDpxImageOffset, 1))},
      {"dpx/7x5-shift3", DpxInput(0x6F, Dpx(7, 5))},
      {"dpx/truncated-mid-row", DpxInput(0x00, Bytes(dpx.begin(), dpx.begin() + 2048 + 295))},
      {"dpx/little-endian",
       DpxInput(0x00, Join({{'X', 'P', 'D', 'S'}, Bytes(dpx.begin() + 4, dpx.end())}))},
      {"dpx/too-wide", DpxInput(0x00, Dpx(7681, 1, kDpxImageOffset, 0))},
      {"dpx/testpattern-4k-head", DpxInput(0x03, dpx4kHead)},
      {"dpx/testpattern-4k-head-shift0", DpxInput(0x00, dpx4kHead)},
      // Every layout read, so that the search starts inside each decoder.
      {"dpx/10-bit-method-a", DpxInput(0x00, Dpx({50, 10, 1}, 16, 8))},
      {"dpx/10-bit-method-b-le-rgba", DpxInput(0x01, Dpx({51, 10, 2, true}, 7, 5))},
      {"dpx/10-bit-packed-le", DpxInput(0x00, Dpx({50, 10, 0, true}, 7, 5))},
      {"dpx/12-bit-packed-rgba", DpxInput(0x0C, Dpx({51, 12, 0}, 9, 5))},
      {"dpx/12-bit-method-b-le-mirrored", DpxInput(0x00, Dpx({50, 12, 2, true, 1}, 7, 5))},
      {"dpx/12-bit-method-a-bottom-up", DpxInput(0x01, Dpx({50, 12, 1, false, 2}, 16, 8))},
      {"dpx/8-bit-rgba-word-padded", DpxInput(0x00, Dpx({51, 8, 0, false, 0, 0, true}, 7, 5))},
      {"dpx/8-bit-le", DpxInput(0x00, Dpx({50, 8, 1, true}, 7, 5))},
      {"dpx/16-bit-le-both-flips-padded", DpxInput(0x02, Dpx({50, 16, 0, true, 3, 6}, 7, 5))},

      {"planes/16x8-xK", PlanesInput(0x00, "xK.", 16, 8, r, g, b)},
      {"planes/16x8-xK-shift1-upper", PlanesInput(0x81, "2K.", 16, 8, r, g, b)},
      {"planes/odd-33x17",
       PlanesInput(0x02, "_K.", 33, 17, Plane(33, 17, 0), Plane(33, 17, 1), Plane(33, 17, 2))},
      {"planes/4K-handshake", PlanesInput(0x03, "4K.", 16, 8, r, g, b)},
      {"planes/8K-handshake", PlanesInput(0x0F, "8K.", 16, 8, r, g, b)},
      {"planes/b-missing", PlanesInput(0x40, "xK.", 16, 8, r, g, b)},
      {"planes/short-planes", PlanesInput(0x00, "xK.", 16, 8, Bytes(r.begin(), r.begin() + 33),
                                          Bytes(g.begin(), g.begin() + 100), Bytes(7))},
      {"planes/lower-k", PlanesInput(0x00, "4k.", 16, 8, r, g, b)},
      {"planes/testpattern-4k-head",
       PlanesInput(0x03, "4K.", 3840, 2160, planes4k[0], planes4k[1], planes4k[2])},

      {"mov/usual", MovInput(1, movie)},
      {"mov/mdat64", MovInput(2, WithSampleSize(RowFileBytes(SmallMovie(3, true)), 22118400))},
      {"mov/moov-first",
       MovInput(0, WithSampleSize(RowFileBytes(SmallMovie(3, false, true)), 22118400))},
      {"mov/past-the-end", MovInput(7, movie)},
      {"mov/negative-index", MovInput(-1, movie)},
      {"mov/truncated-frame", MovInput(0, cutMovieBytes, 0x0C)},
      {"mov/8k-sample-size", MovInput(0, WithSampleSize(movie, 88473600))},
      {"mov/size-table", MovInput(0, WithSampleSize(movie, 0))},
      {"mov/tracks", MovInput(1, TrackedMovie(false), 0x02)},
      {"mov/tracks-co64", MovInput(2, TrackedMovie(true), 0x00)},
      {"mov/testpattern-4k-moov-first",
       MovInput(0, RowFileBytes(PatternMovie({3840, 2160, 1, false, true}, 1), 16384))},
      {"mov/testpattern-4k-moov-first-64",
       MovInput(0, RowFileBytes(PatternMovie({3840, 2160, 1, true, true}, 1), 16384))},

      {"sequence/dpx-three",
       SequenceInput(
           0x20, "shot_0002.dpx",
           {{"shot_0001.dpx", dpx}, {"shot_0002.dpx", dpx}, {"shot_0003.dpx", Dpx(8, 4)}})},
      {"sequence/dpx-digits-only",
       SequenceInput(0x41, "0012.DPX",
                     {{"0012.DPX", dpx}, {"0013.DPX", Bytes(dpx.begin(), dpx.begin() + 900)}})},
      {"sequence/dpx-several-dots",
       SequenceInput(
           0x00, "take01.0012.dpx",
           {{"take01.0012.dpx", dpx}, {"take02.0012.dpx", dpx}, {"take01.0013.dpx", dpx}})},
      {"sequence/planar", SequenceInput(0x21, "clip.0005.xK.g",
                                        {{"clip.0005.xK.r", r},
                                         {"clip.0005.xK.g", g},
                                         {"clip.0005.xK.b", b},
                                         {"clip.0006.xK.r", {}}})},
      {"sequence/movie", SequenceInput(0x62, "scene.mov", {{"scene.mov", movie}})},
      {"sequence/sub-folder",
       SequenceInput(0x10, "shot_0001.dpx", {{"shot_0001.dpx", dpx}, {"shot_0002.dpx", {}}})},
      {"sequence/quote", SequenceInput(0x00, "shot_0001.dpx\"", {{"shot_0001.dpx", dpx}})},
      {"sequence/multibyte",
       SequenceInput(0x00, multibyte, {{multibyte, dpx}, {"\x81\\_0001.dpx", dpx}})},
  };
  for (const auto& [name, bytes] : seeds) {
    const std::filesystem::path path = std::filesystem::path(outDir) / name;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (!WriteRowFile(path.string(), {bytes, 0, 0, nullptr, {}})) return -1;
  }
  return 0;
}
