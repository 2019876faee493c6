// Movies built atom by atom and opened as the shell opens them: where the atom walk finds the
// frames, how many and how big, what it refuses; and which bytes a load of frame i reads.

#include <algorithm>
#include <climits>
#include <tuple>

#include "formats/mov_atoms.h"
#include "formats/v210_row.h"
#include "tests/unit/test_files.h"
#include "tools/testpattern/movie_file.h"

namespace {

constexpr uint64_t kNoOffset = 777;  // MovDataOffset before the open: no media data recorded
constexpr uint32_t kNoSize = 888;    // MovSampleSize before the open: no sample table read

struct MovieCase {
  Bytes Movie;
  int32_t Count;     // frames found; 0 refuses the movie
  uint64_t Offset;   // of the first frame
  uint32_t Size;     // of every frame
  uint64_t Gap = 0;  // zero bytes after the first 8 of the movie, written as a hole
};

std::vector<MovieCase> MovieCases() {
  const Bytes head = Join({Atom("ftyp", Bytes(12)), AtomHeader(8, "wide")});  // 28 bytes
  const Bytes media(64, 0x5A), mdat = Atom("mdat", media), moov = Moov({Stsz(k4kSampleSize, 3)});
  const Bytes mdat64 = Join({ExtendedAtomHeader(16 + media.size(), "mdat"), media});
  const uint64_t headMoov = head.size() + moov.size();
  const auto sized = [](Bytes atom, uint32_t size) { return PutBigEndian32(atom, 0, size), atom; };
  const Bytes twoTracks = Moov({Stsz(0, 3), Stsz(4, 9)});
  Bytes deep;  // the sample table 10 000 containers deep: each entered, none measured
  for (uint32_t i = 0; i < 10000; ++i) {
    const Bytes trak = AtomHeader(8 * (10000 - i) + 20, "trak");
    deep.insert(deep.end(), trak.begin(), trak.end());
  }
  const Bytes movie = Join({head, moov, mdat});
  const Bytes cut(movie.begin(), movie.begin() + ptrdiff_t(headMoov) - 18);  // in stsz's count
  const uint32_t k4k = k4kSampleSize;
  return {
      {Join({head, mdat, moov}), 3, 36, k4k},    // media data first, as cameras write
      {Join({head, mdat64, moov}), 3, 44, k4k},  // 64-bit size: 16 header bytes
      {movie, 3, headMoov + 8, k4k},             // written for streaming: the table first
      {Join({head, moov, mdat64}), 3, headMoov + 16, k4k},  // and a 64-bit size
      {Join({head, moov, AtomHeader(0, "mdat"), media}), 3, headMoov + 8,
       k4k},  // size 0: to the end
      {Join({head, moov, Atom("free", Bytes(9)), Atom("udta", {}), mdat}), 3, headMoov + 33, k4k},
      {Join({head, twoTracks, mdat}), 3, head.size() + twoTracks.size() + 8, 0},  // a table of
      // per-sample sizes (no frame size: refused) and a second table passed over to the data
      {Join({head, Atom("moov", sized(Stsz(k4k, 3), 16)), mdat}), 0, kNoOffset, k4k},  // a table
      // shorter than the body read from it: going on would walk backwards
      {Join({head, mdat, Moov({Stsz(4, 48000), Stsz(k4k, 3)})}), 48000, 36, 4},  // the first
      // table in file order counts, whatever its track holds
      {Join({mdat, Moov({Stsz(k4k, 5)}, "MOOV"), moov}), 3, 8, k4k},  // MOOV is passed over
      {Join({mdat, Moov({Stsz(k4k, 5)}, "MOOV")}), 0, 8, kNoSize},    // only MOOV
      {Join({mdat, Atom("udta", Stsz(k4k, 2))}), 0, 8, kNoSize},      // udta is not entered
      {Join({mdat, Stsz(k4k, 2)}), 2, 8, k4k},                        // the walk is flat
      {Join({mdat, deep, Stsz(k8kSampleSize, 12)}), 12, 8, k8kSampleSize},
      {Join({head, mdat, sized(moov, 0)}), 3, 36, k4k},  // containers' own sizes play no part
      {Join({head, mdat, sized(moov, 3)}), 3, 36, k4k},
      {Join({mdat, Moov({Stsz(k4k, 0)})}), 0, 8, k4k},            // no frames
      {Join({mdat, Moov({Stsz(k4k, 0xFFFFFFFF)})}), -1, 8, k4k},  // a count past INT32_MAX
      {cut, 0, kNoOffset, k4k},                                   // the file ends in the count
      {{}, 0, kNoOffset, kNoSize},                                // empty
      {{0, 0, 0, 8, 'f', 'r', 'e'}, 0, kNoOffset, kNoSize},       // not one whole header
      {Join({head, mdat, Atom("moov", {})}), 0, 36, kNoSize},     // no sample table
      {Join({head, moov}), 0, kNoOffset, k4k},                    // no media data
      // Sizes that lead nowhere end the walk before the movie behind them.
      {Join({AtomHeader(0, "free"), movie}), 0, kNoOffset, kNoSize},  // to the end of the file
      {Join({AtomHeader(7, "free"), movie}), 0, kNoOffset, kNoSize},  // shorter than its header
      {Join({ExtendedAtomHeader(15, "free"), movie}), 0, kNoOffset, kNoSize},
      {Join({ExtendedAtomHeader(0, "free"), movie}), 0, kNoOffset, kNoSize},
      {Join({ExtendedAtomHeader(~0ull, "free"), movie}), 0, kNoOffset, kNoSize},  // no wrap-around
      {Join({mdat, ExtendedAtomHeader(~0ull - 71, "free"), moov}), 0, 8,
       kNoSize},  // nor a skip back
      // to the start, where the walk would go round for ever
      {Join({ExtendedAtomHeader((1ull << 63) + 16, "free"), movie}), 0, kNoOffset, kNoSize},
      {Join({AtomHeader(0xFFFFFFFF, "free"), movie}), 0, kNoOffset, kNoSize},  // past the end
      {Join({AtomHeader(0, "mdat"), moov}), 0, 8,
       kNoSize},  // media data to the end, table after it
      {Join({AtomHeader(5, "mdat"), moov}), 0, 8, kNoSize},
      {Join({AtomHeader(0xF0000000, "mdat"), moov}), 0, 8, kNoSize},  // media data past the end
      // A free atom of 2^31 + 8 bytes: a skip forward, never a negative one.
      {Join({AtomHeader(0x80000008, "free"), mdat, moov}), 3, 0x80000010, k4k, 0x80000000},
  };
}

TEST(Movie, AtomWalkFindsTheFramesOrRefuses) {
  ResetViewerState();
  BuildColourTables();
  TestDir dir;
  const std::string path = dir / "scene.mov";
  int row = 0;
  for (const MovieCase& c : MovieCases()) {
    SCOPED_TRACE(testing::Message() << "row " << row++);
    const Bytes head(c.Movie.begin(),
                     c.Movie.begin() + ptrdiff_t(std::min<size_t>(8, c.Movie.size())));
    const Bytes rest(c.Movie.begin() + ptrdiff_t(head.size()), c.Movie.end());
    WriteSparse(path, c.Movie.size() + c.Gap, {{0, head}, {head.size() + c.Gap, rest}});
    // Shown before: a picture of the 4K width but another height, which the movie must replace.
    Prepare(3840, 8, 3);
    Viewer.MovDataOffset = kNoOffset;
    Viewer.MovSampleSize = kNoSize;
    const bool shows = c.Count > 0 && (c.Size == k4kSampleSize || c.Size == k8kSampleSize);
    EXPECT_EQ(Open(path), shows ? "" : kInvalidImageMessage);
    EXPECT_EQ(Viewer.FrameCount, shows ? c.Count : 0);
    EXPECT_EQ(Viewer.MovDataOffset, c.Offset);
    EXPECT_EQ(Viewer.MovSampleSize, c.Size);
    EXPECT_EQ(Viewer.SourceHeight, shows ? (c.Size == k4kSampleSize ? 2160 : 4320) : 8);
    EXPECT_EQ(ScanMovAtoms(), c.Count);
  }
  ResetViewerState();
}

TEST(Movie, LoadReadsTheFrameItsIndexNames) {
  // An 8K movie of 60 frames; the file holds the first rows of frames 1 and 50 (4.4 GB in) and
  // ends there, all else a hole.
  ResetViewerState();
  BuildColourTables();
  TestDir dir;
  const Bytes head = Join(
      {Moov({Stsz(k8kSampleSize, 60)}), ExtendedAtomHeader(16 + 60ull * k8kSampleSize, "mdat")});
  const uint64_t at1 = head.size() + k8kSampleSize, at50 = head.size() + 50ull * k8kSampleSize;
  const std::string path =
      WriteSparse(dir / "big.mov", 0,
                  {{0, head}, {at1, V210Grey(940, 8 * 20480)}, {at50, V210Grey(502, 8 * 20480)}});
  Prepare(3840, 2160, 3);
  ASSERT_EQ(Open(path), "");
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 960);
  struct {
    int32_t Frame, Result, Top, BelowGreen;  // grey of file row 7, green of row 15; -1: unchanged
  } const cases[] = {
      {1, 0, 255, 88},       // white rows one frame in, then the hole: zero bytes, dark green
      {50, 0, 127, 0},       // beyond 4 GiB (a 32-bit offset would land in the hole), then EOF
      {60, 0, 0, 0},         // past the last frame and the end of the file: black
      {INT32_MAX, 0, 0, 0},  // so far that the seek fails: black, not the bytes at the start
      {-1, -1, -1, -1},      // refused before any file is opened
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Frame);
    FillBitmap(kMark);
    Viewer.CurrentFrame = c.Frame;
    EXPECT_EQ(LoadFrame(), c.Result);
    const uint8_t want = c.Top < 0 ? kMark : uint8_t(c.Top);
    for (int32_t x = 0; x < 960; ++x) {
      const uint8_t *top = BitmapPixel(x, 0), *below = BitmapPixel(x, 1);
      ASSERT_TRUE(top[0] == want && top[1] == want && top[2] == want && top[3] == kMark) << x;
      ASSERT_EQ(below[1], c.Top < 0 ? kMark : c.BelowGreen) << x;
    }
  }
  std::filesystem::remove(path);  // gone since the scan: refused, not a frame of black
  Viewer.CurrentFrame = 1;
  EXPECT_EQ(LoadFrame(), -1);
  ResetViewerState();
}

// Movies of several tracks against a model: row r of frame s of track t is one grey, Level(t,
// s, r), all else noise. A frame read from elsewhere, or at another stride, shows.
struct TrackCase {
  std::vector<MovieTrack> Tracks;
  int Shown;  // the track shown; -1: refused
  std::vector<std::tuple<const char*, int32_t, uint32_t>> Patches = {};  // PatchAtomField's
  uint64_t DataAt = 0;  // the chunks from here, after a hole
  int32_t Shift = 0;
};

uint32_t Level(size_t t, size_t s, size_t r) {
  return uint32_t(64 + (t * 397 + s * 131 + r * 29) % 877);
}

std::vector<TrackCase> TrackCases() {
  const MovieTrack tc{"tmcd", "tmcd", 0, 0, 1, 4}, sound{"soun", "sowt", 0, 0, 5, 1602};
  const MovieTrack video{"vide", "v210", 200, 8, 5};  // 640-byte rows, a width of no 6 multiple
  MovieTrack chunked = video, table = video, wide = video, big = video;
  chunked.SamplesPerChunk = 2;  // runs of 2, 2 and 1
  table.SizeTable = true, table.SamplesPerChunk = 3;
  wide.Co64 = true;
  big.Width = 4096, big.Height = 2160, big.Samples = 1;  // rows of 11008 bytes
  MovieTrack prores = video, shortFrame = video, tooTall = video, one = video, flat = video;
  prores.Format = "apcn", shortFrame.SampleBytes = MovieFrameBytes(200, 8) - 1;
  tooTall.Height = 4321, tooTall.Samples = 1, one.SamplesPerChunk = 5, flat.Height = 1;
  return {
      {{tc, video}, 1},                    // timecode first
      {{sound, video}, 1},                 // the sound track first
      {{video, video}, 0},                 // two pictures: the first
      {{prores, sound, video}, 2},         // the first v210 picture, not the first picture
      {{wide, sound}, 0, {}, 5ull << 30},  // co64 beyond 4 GiB
      {{table, sound}, 0},                 // a size table
      {{chunked, tc, sound}, 0},           // several samples per chunk
      {{sound, big}, 1, {}, 0, 3},         // 4096 x 2160 at 1/8
      {{flat, sound}, 0},                  // one row high
      {{video}, 0, {{"moov", -8, 0}}},     // the movie atom last, its size 0: to the file's end
      {{shortFrame, sound}, -1},           // a frame shorter than its rows
      {{prores, sound}, -1},               // a compressed picture only
      {{tooTall}, -1},                     // taller than any source
      // Tables that contradict themselves (the chunked movie has three chunks, two runs).
      {{chunked}, -1, {{"stsc", 20, 1}, {"stsc", 24, 2}}},  // runs out of order, the second
      {{chunked}, -1, {{"stsc", 8, 2}}},   // one of all; the first run not from chunk 1
      {{chunked}, -1, {{"stsc", 12, 0}}},  // no samples per chunk
      {{chunked}, -1, {{"stco", 4, 2}}},   // a chunk past the offset table
      {{table}, -1, {{"stsz", 8, 6}}},     // a size table longer than its atom
      {{one}, -1, {{"stsz", 8, 0x200001}, {"stsc", 12, 0x200001}}},  // one chunk of more frames
      {{video}, -1, {{"stsz", 8, 0xFFFFFFFF}}},   // than a table may hold, in 32 bits too
      {{video}, -1, {{"stco", -8, 0x7FFFFFF0}}},  // a table running past its parent
      {{wide}, -1, {{"co64", 8, 0x7FFFFFFF}, {"co64", 12, 0xFFFFFF00}}},  // past 2^63 - 1
      {{video}, -1, {{"mvhd", -4, 0x6D766578}}},  // fragmented: mvex in moov
  };
}

TEST(Movie, TracksShowTheirPictureFrames) {
  ResetViewerState();
  BuildColourTables();
  TestDir dir;
  const std::string path = dir / "tracks.mov";
  int row = 0;
  for (const TrackCase& c : TrackCases()) {
    SCOPED_TRACE(testing::Message() << "row " << row++);
    const auto fill = [&c](size_t t, uint32_t s, uint8_t* out, size_t n) {
      std::memcpy(out, Noise(n, uint32_t(t * 1000 + s)).data(), n);
      const size_t stride = size_t(c.Tracks[t].Width + 47) / 48 * 128;  // whole 128-byte rows
      for (size_t r = 0; stride > 0 && (r + 1) * stride <= n; ++r)
        std::memcpy(out + r * stride, V210Grey(Level(t, s, r), stride).data(), stride);
    };
    auto pieces = TrackedMovieFile(c.Tracks, fill, c.DataAt);
    for (const auto& [type, at, value] : c.Patches)
      PatchAtomField(pieces[2].second, type, at, value);
    WriteSparse(path, 0, pieces);
    Prepare(64, 32, c.Shift);
    ASSERT_EQ(Open(path), c.Shown < 0 ? kInvalidImageMessage : "");
    if (c.Shown < 0) continue;
    const MovieTrack& track = c.Tracks[size_t(c.Shown)];
    const int32_t w = track.Width >> c.Shift, h = track.Height >> c.Shift;
    ASSERT_EQ(Viewer.FrameCount, int32_t(track.Samples));
    for (int32_t f = 0; f < Viewer.FrameCount; ++f) {
      FillBitmap(kMark);
      Viewer.CurrentFrame = f;
      EXPECT_EQ(LoadFrame(), 0);
      for (int32_t y = 0; y < h; ++y) {
        // File row: the last one, and every 2^shift-th above it. Its grey is (Y - 64) * 1.1644
        // on a 10-bit scale, truncated, a quarter of it clamped to a byte.
        const int32_t fileRow = track.Height - 1 - ((h - 1 - y) << c.Shift);
        const int32_t luma = int32_t(Level(size_t(c.Shown), size_t(f), size_t(fileRow)));
        const int32_t grey = std::clamp(int32_t((luma - 64) * 1.1644) >> 2, 0, 255);
        for (int32_t x = 0; x < w; ++x) {
          const uint8_t* p = BitmapPixel(x, y);
          ASSERT_TRUE(p[0] == grey && p[1] == grey && p[2] == grey && p[3] == kMark) << f;
        }
      }
    }
    Viewer.CurrentFrame = Viewer.FrameCount;  // past the last frame nothing is read or written
    FillBitmap(kMark);
    EXPECT_TRUE(LoadFrame() == -1 && BitmapIsAll(kMark));
  }
  ResetViewerState();
}

TEST(Movie, FrameOffsetsAre64Bit) {
  struct {
    uint64_t DataOffset;
    uint32_t SampleSize;
    int32_t Index;
    int64_t Offset;
  } const cases[] = {
      {28, k4kSampleSize, INT32_MIN, -1},                // refused: never a wild seek
      {uint64_t(INT64_MAX) - 10, k4kSampleSize, 1, -1},  // past what a file can hold
      {uint64_t(INT64_MAX) - k4kSampleSize, k4kSampleSize, 1, INT64_MAX},  // the very last byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MovFrameOffset(c.DataOffset, c.SampleSize, c.Index), c.Offset) << c.Index;
  }
}

}  // namespace
