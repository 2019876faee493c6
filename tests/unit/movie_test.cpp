// Movies built atom by atom and opened as the shell opens them: where the atom walk finds the
// frames, how many and how big, what it refuses; and which bytes a load of frame i reads.

#include <climits>

#include "formats/mov_atoms.h"
#include "formats/v210_row.h"
#include "tests/unit/test_files.h"

namespace {

constexpr uint64_t kNoOffset = 777;  // MovDataOffset before the open: no media data recorded
constexpr uint32_t kNoSize = 888;    // MovSampleSize before the open: no sample table read

struct MovieCase {
  Bytes movie;
  int32_t count;     // frames found; 0 refuses the movie
  uint64_t offset;   // of the first frame
  uint32_t size;     // of every frame
  uint64_t gap = 0;  // zero bytes after the first 8 of the movie, written as a hole
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
    const Bytes head(c.movie.begin(),
                     c.movie.begin() + ptrdiff_t(std::min<size_t>(8, c.movie.size())));
    const Bytes rest(c.movie.begin() + ptrdiff_t(head.size()), c.movie.end());
    WriteSparse(path, c.movie.size() + c.gap, {{0, head}, {head.size() + c.gap, rest}});
    // Shown before: a picture of the 4K width but another height, which the movie must replace.
    Prepare(3840, 8, 3);
    Viewer.MovDataOffset = kNoOffset;
    Viewer.MovSampleSize = kNoSize;
    const bool shows = c.count > 0 && (c.size == k4kSampleSize || c.size == k8kSampleSize);
    EXPECT_EQ(Open(path), shows ? "" : kInvalidImageMessage);
    EXPECT_EQ(Viewer.FrameCount, shows ? c.count : 0);
    EXPECT_EQ(Viewer.MovDataOffset, c.offset);
    EXPECT_EQ(Viewer.MovSampleSize, c.size);
    EXPECT_EQ(Viewer.SourceHeight, shows ? (c.size == k4kSampleSize ? 2160 : 4320) : 8);
    EXPECT_EQ(ScanMovAtoms(), c.count);
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
    int32_t frame, result, top, belowGreen;  // grey of file row 7, green of row 15; -1: unchanged
  } const cases[] = {
      {1, 0, 255, 88},       // white rows one frame in, then the hole: zero bytes, dark green
      {50, 0, 127, 0},       // beyond 4 GiB (a 32-bit offset would land in the hole), then EOF
      {60, 0, 0, 0},         // past the last frame and the end of the file: black
      {INT32_MAX, 0, 0, 0},  // so far that the seek fails: black, not the bytes at the start
      {-1, -1, -1, -1},      // refused before any file is opened
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame);
    FillBitmap(kMark);
    Viewer.CurrentFrame = c.frame;
    EXPECT_EQ(LoadFrame(), c.result);
    const uint8_t want = c.top < 0 ? kMark : uint8_t(c.top);
    for (int32_t x = 0; x < 960; ++x) {
      const uint8_t *top = BitmapPixel(x, 0), *below = BitmapPixel(x, 1);
      ASSERT_TRUE(top[0] == want && top[1] == want && top[2] == want && top[3] == kMark) << x;
      ASSERT_EQ(below[1], c.top < 0 ? kMark : c.belowGreen) << x;
    }
  }
  std::filesystem::remove(path);  // gone since the scan: refused, not a frame of black
  Viewer.CurrentFrame = 1;
  EXPECT_EQ(LoadFrame(), -1);
  ResetViewerState();
}

TEST(Movie, FrameOffsetsAre64Bit) {
  struct {
    uint64_t dataOffset;
    uint32_t sampleSize;
    int32_t index;
    int64_t offset;
  } const cases[] = {
      {28, k4kSampleSize, INT32_MIN, -1},                // refused: never a wild seek
      {uint64_t(INT64_MAX) - 10, k4kSampleSize, 1, -1},  // past what a file can hold
      {uint64_t(INT64_MAX) - k4kSampleSize, k4kSampleSize, 1, INT64_MAX},  // the very last byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MovFrameOffset(c.dataOffset, c.sampleSize, c.index), c.offset) << c.index;
  }
}

}  // namespace
