// The planar R/G/B reader: the size from the name, the three plane files, which samples land
// where, short and missing planes.
#include "formats/rgb_planes_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "test_files.h"

namespace {

constexpr uint8_t kFourthByteMark = 0xA5;
constexpr char kPlaneLetters[] = "rgb";

// The word of a plane whose narrow-range code is the 8-bit video level: the code sits in bits
// 2..11, with junk in the two bits below it and in the top four bits, all of which the reader
// must ignore.
uint16_t LevelWord(uint32_t level) {
  return uint16_t(0xA000 | level << 4 | 0x3);
}
// What the bitmap shows for a word: bits 2..11, narrow to full range.
uint8_t Shown(uint16_t word) {
  return uint8_t(NarrowToFullTable[(word >> 2) & 0x3FF]);
}

// Every source pixel tells where it came from: R the file row, G the column, B both. Video
// levels from 16 up stay distinct after the narrow-to-full stretch, which is steeper than 1.
uint16_t WhereWord(uint32_t row, uint32_t column, int plane) {
  const uint32_t level = plane == 0   ? 16 + 8 * row
                         : plane == 1 ? 16 + 8 * column
                                      : 16 + row + column;
  return LevelWord(level);
}

// One plane file: h rows of w big-endian words from word(fileRow, column, plane).
template <typename WordOf>
Bytes PlaneFile(uint32_t w, uint32_t h, int plane, WordOf word) {
  Bytes b;
  b.reserve(size_t(w) * h * 2);
  for (uint32_t row = 0; row < h; ++row) {
    for (uint32_t column = 0; column < w; ++column) {
      PutBigEndian16(b, b.size(), word(row, column, plane));
    }
  }
  return b;
}

// The three planes stem.r, stem.g and stem.b; returns the path of stem.r.
template <typename WordOf>
std::string WritePlanes(const TestDir& dir, const std::string& stem, uint32_t w, uint32_t h,
                        WordOf word) {
  for (int plane = 0; plane < 3; ++plane) {
    dir.Write(stem + "." + kPlaneLetters[plane], PlaneFile(w, h, plane, word));
  }
  return dir / (stem + ".r");
}

struct Pixel {
  uint8_t B, G, R, Fourth;
};
Pixel At(int32_t x, int32_t yFromTop) {
  const uint8_t* p = BitmapPixel(x, yFromTop);
  return {p[0], p[1], p[2], p[3]};
}

size_t BitmapBytes() {
  const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
  return size_t(h.biWidth) * size_t(h.biHeight) * 4;
}
void FillBitmap(uint8_t value) {
  if (Viewer.FramePixels != nullptr) std::memset(Viewer.FramePixels, value, BitmapBytes());
}
bool BitmapIsAll(uint8_t value) {
  for (size_t i = 0; i < BitmapBytes(); ++i) {
    if (Viewer.FramePixels[i] != value) return false;
  }
  return true;
}
char LastPathCharacter() {
  return Viewer.Path[std::strlen(Viewer.Path) - 1];
}

class RgbPlanesReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetViewerState();
    BuildColourTables();
  }
  void TearDown() override { ResetViewerState(); }

  // The state after a finished handshake for a w x h source at shift s.
  static void SizeBitmap(int32_t w, int32_t h, int32_t s) {
    Viewer.SourceWidth = w;
    Viewer.SourceHeight = h;
    Viewer.ScaleShift = s;
    ResetFrameBuffer();
  }

  int32_t Read(const std::string& path) {
    EXPECT_TRUE(SetViewerPath(path));
    return ReadRgbPlanesFrame();
  }

  TestDir dir_;
};

TEST_F(RgbPlanesReaderTest, NameDecidesTheSizeBeforeAnyFileIsOpened) {
  struct Case {
    const char* name;  // no plane file of it exists
    int32_t widthBefore, heightBefore;
    int32_t result;
    int32_t width, height;  // the source size afterwards
    char lastCharacter;     // of the path afterwards: a plane letter means a file was tried
  };
  const Case cases[] = {
      {"clip4K.r", 7680, 4320, 0, 3840, 2160, 'r'},   // a new size: recorded, nothing opened
      {"clip8K.g", 3840, 2160, 0, 7680, 4320, 'g'},   // likewise for 8K
      {"clip8K.B", 3840, 2160, 0, 7680, 4320, 'B'},   // the listed upper-case letter stays
      {"clip4k.G", 7680, 4320, -1, 7680, 4320, 'G'},  // lower-case "k" is refused
      {"clip4X.G", 3840, 2160, -1, 3840, 2160, 'G'},  // no "K" at all
      {"clip4K.r", 3840, 2160, -1, 3840, 2160, 'r'},  // the same size: the planes are missing
      {"clip2K.G", 8, 6, -1, 8, 6, 'r'},  // other sizes decode now; the "r" plane is missing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetViewerState();
    SizeBitmap(c.widthBefore, c.heightBefore, 2);
    uint8_t* const pixels = Viewer.FramePixels;
    FillBitmap(0x33);
    EXPECT_EQ(Read(dir_ / c.name), c.result);
    EXPECT_EQ(Viewer.SourceWidth, c.width);
    EXPECT_EQ(Viewer.SourceHeight, c.height);
    EXPECT_EQ(LastPathCharacter(), c.lastCharacter);
    // The bitmap is the caller's to rebuild: untouched, the old picture still there.
    EXPECT_EQ(Viewer.FramePixels, pixels);
    EXPECT_TRUE(BitmapIsAll(0x33));
  }
  // A whole path too short to hold a size character before the "K".
  for (const char* path : {"K.G", ""}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(SetViewerPath(path));
    EXPECT_EQ(ReadRgbPlanesFrame(), -1);
    EXPECT_STREQ(Viewer.Path, path);
  }
}

TEST_F(RgbPlanesReaderTest, FourKFrameTakesTwoCalls) {
  // Only the first eight rows of each plane exist: at 1/8 the top bitmap row shows file row 7
  // and everything below it reads as black.
  const auto word = [](uint32_t row, uint32_t column, int plane) {
    return WhereWord(row, column % 64, plane);
  };
  for (int plane = 0; plane < 3; ++plane) {
    dir_.Write(std::string("clip_0001.4K.") + kPlaneLetters[plane],
               PlaneFile(3840, 8, plane, word));
  }
  const std::string path = dir_ / "clip_0001.4K.g";
  SizeBitmap(16, 8, 3);
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(Viewer.SourceWidth, 3840);
  EXPECT_EQ(Viewer.SourceHeight, 2160);
  EXPECT_EQ(LastPathCharacter(), 'g');  // nothing opened yet

  ASSERT_TRUE(FrameBufferNeedsRefit());
  ResetFrameBuffer();
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(LastPathCharacter(), 'b');
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 480);
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biHeight, 270);
  for (int32_t x = 0; x < 480; x += 37) {
    EXPECT_EQ(At(x, 0).R, Shown(word(7, uint32_t(x) * 8, 0))) << x;
    EXPECT_EQ(At(x, 0).G, Shown(word(7, uint32_t(x) * 8, 1))) << x;
    EXPECT_EQ(At(x, 0).B, Shown(word(7, uint32_t(x) * 8, 2))) << x;
    EXPECT_EQ(At(x, 1).R | At(x, 1).G | At(x, 1).B, 0) << x;
    EXPECT_EQ(At(x, 269).R | At(x, 269).G | At(x, 269).B, 0) << x;
  }
}

TEST_F(RgbPlanesReaderTest, AnyPlaneOfTheFrameShowsTheSamePicture) {
  WritePlanes(dir_, "clip2K", 8, 6, WhereWord);
  // The upper-case listed name is never opened as given: the reader writes "r", "g" and "b"
  // over it. (On Linux no clip2K.G exists; on Windows it is clip2K.g.)
  for (const char* name : {"clip2K.r", "clip2K.g", "clip2K.b", "clip2K.G"}) {
    SCOPED_TRACE(name);
    SizeBitmap(8, 6, 0);
    ASSERT_EQ(Read(dir_ / name), 0);
    EXPECT_EQ(LastPathCharacter(), 'b');
    for (int32_t y = 0; y < 6; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const Pixel p = At(x, y);
        EXPECT_EQ(p.R, Shown(WhereWord(uint32_t(y), uint32_t(x), 0))) << x << "," << y;
        EXPECT_EQ(p.G, Shown(WhereWord(uint32_t(y), uint32_t(x), 1))) << x << "," << y;
        EXPECT_EQ(p.B, Shown(WhereWord(uint32_t(y), uint32_t(x), 2))) << x << "," << y;
      }
    }
  }
}

TEST_F(RgbPlanesReaderTest, ShowsEveryStepthRowFromTheBottomAndColumnFromTheLeft) {
  struct Case {
    uint32_t w, h;
  };
  const Case cases[] = {
      {8, 8},    // a multiple of every step
      {16, 24},  // several rows per step at 1/8
      {7, 5},    // neither a multiple: the surplus column and top row are dropped
      {13, 11},  // odd both ways, several kept rows
      {9, 3},    // fewer rows than the step at 1/4 and 1/8: nothing to show there
      {1, 17},   // one column
  };
  for (const Case& c : cases) {
    const std::string path = WritePlanes(dir_, "where_2K", c.w, c.h, WhereWord);
    for (int32_t s = 0; s <= 3; ++s) {
      SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " at shift " +
                   std::to_string(s));
      SizeBitmap(int32_t(c.w), int32_t(c.h), s);
      FillBitmap(0x11);
      for (size_t i = 3; i < BitmapBytes(); i += 4) Viewer.FramePixels[i] = kFourthByteMark;
      ASSERT_EQ(Read(path), 0);

      // Naive model: walk the file, number rows from the bottom, keep what fits the bitmap.
      const int32_t step = 1 << s;
      const int32_t bitmapW = int32_t(c.w) >> s, bitmapH = int32_t(c.h) >> s;
      int32_t shown = 0;
      for (uint32_t row = 0; row < c.h; ++row) {
        const int32_t g = int32_t(c.h - 1 - row);
        if (g % step != 0 || g / step >= bitmapH) continue;
        for (uint32_t x = 0; x < c.w; x += uint32_t(step)) {
          if (int32_t(x) / step >= bitmapW) continue;
          const Pixel p = At(int32_t(x) / step, bitmapH - 1 - g / step);
          EXPECT_EQ(p.R, Shown(WhereWord(row, x, 0))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.G, Shown(WhereWord(row, x, 1))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.B, Shown(WhereWord(row, x, 2))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.Fourth, kFourthByteMark);
          ++shown;
        }
      }
      EXPECT_EQ(shown, bitmapW * bitmapH);  // every bitmap pixel has its one source
    }
  }
}

TEST_F(RgbPlanesReaderTest, CodeIsBitsTwoToElevenOfTheWord) {
  struct Case {
    uint16_t word;
    int32_t code;
  };
  const Case cases[] = {
      {0x0000, 0},     // below black
      {0x0100, 64},    // narrow black
      {0xF100, 64},    // the top four bits are ignored...
      {0x5103, 64},    // ...and so are the two lowest
      {0x0104, 65},    // bit 2 is the code's lowest bit
      {0x0108, 66},    // the first code above black
      {0x07D8, 502},   // mid grey, 128
      {0xA7D8, 502},   // mid grey with junk on top
      {0x0EB0, 940},   // narrow white
      {0x0FFF, 1023},  // above white
      {0xF000, 0},     // junk alone is black
  };
  const uint32_t n = uint32_t(std::size(cases));
  // R carries the word; G and B carry it too, rotated, so every plane is checked.
  const std::string path = WritePlanes(dir_, "codes2K", n, 1, [&](uint32_t, uint32_t x, int c) {
    return cases[(x + uint32_t(c)) % n].word;
  });
  SizeBitmap(int32_t(n), 1, 0);
  ASSERT_EQ(Read(path), 0);
  for (uint32_t x = 0; x < n; ++x) {
    EXPECT_EQ(At(int32_t(x), 0).R, NarrowToFullTable[cases[x].code]) << cases[x].word;
    EXPECT_EQ(At(int32_t(x), 0).G, NarrowToFullTable[cases[(x + 1) % n].code]);
    EXPECT_EQ(At(int32_t(x), 0).B, NarrowToFullTable[cases[(x + 2) % n].code]);
  }
}

TEST_F(RgbPlanesReaderTest, MissingPlaneFailsAndChangesNothing) {
  for (int missing = 0; missing < 3; ++missing) {
    SCOPED_TRACE(std::string("missing plane ") + kPlaneLetters[missing]);
    const std::string path = WritePlanes(dir_, "gap8K", 8, 6, WhereWord);
    const std::string gone = dir_ / (std::string("gap8K.") + kPlaneLetters[missing]);
    ASSERT_TRUE(std::filesystem::remove(gone));
    SizeBitmap(7680, 4320, 3);  // the named size: the planes are opened
    FillBitmap(0x33);
    EXPECT_EQ(Read(path), -1);
    EXPECT_EQ(LastPathCharacter(), kPlaneLetters[missing]);  // the plane that failed
    EXPECT_EQ(Viewer.SourceWidth, 7680);
    EXPECT_EQ(Viewer.SourceHeight, 4320);
    EXPECT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 960);
    EXPECT_TRUE(BitmapIsAll(0x33));
    // The planes opened before the failure are closed again: Windows refuses to delete a file
    // that is still open.
    for (int plane = 0; plane < 3; ++plane) {
      if (plane == missing) continue;
      EXPECT_TRUE(std::filesystem::remove(dir_ / (std::string("gap8K.") + kPlaneLetters[plane])));
    }
  }
}

TEST_F(RgbPlanesReaderTest, ShortPlanesShowBlackNotTheLastFrame) {
  const auto white = [](uint32_t, uint32_t, int) { return uint16_t(0x0FFF); };
  const std::string whitePath = WritePlanes(dir_, "white2K", 8, 8, white);
  struct Case {
    const char* stem;
    size_t planeBytes[3];  // how much of each 128-byte plane the file holds
  };
  const Case cases[] = {
      {"cutg2K", {128, 5 * 16 + 3 * 2 + 1, 128}},  // G ends inside a word: its low byte is 0
      {"cutb2K", {128, 128, 2 * 16}},              // B ends between rows
      {"emptyr2K", {0, 128, 128}},                 // an empty R plane
      {"cutall2K", {16, 40, 0}},                   // all three short, each differently
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    Bytes planes[3];
    for (int plane = 0; plane < 3; ++plane) {
      planes[plane] = PlaneFile(8, 8, plane, WhereWord);
      planes[plane].resize(c.planeBytes[plane]);
      dir_.Write(std::string(c.stem) + "." + kPlaneLetters[plane], planes[plane]);
    }
    SizeBitmap(8, 8, 0);
    // A white frame first, so the ReadBuffer holds bytes that would show as white.
    ASSERT_EQ(Read(whitePath), 0);
    ASSERT_EQ(At(7, 7).R, 255);
    EXPECT_EQ(Read(dir_ / (std::string(c.stem) + ".r")), 0);
    // Naive model: a word's bytes beyond the end of its file read as 0.
    const auto wordAt = [&](int plane, int32_t x, int32_t y) {
      const Bytes& b = planes[plane];
      const size_t at = (size_t(y) * 8 + size_t(x)) * 2;
      return uint16_t((at < b.size() ? b[at] << 8 : 0) | (at + 1 < b.size() ? b[at + 1] : 0));
    };
    for (int32_t y = 0; y < 8; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const Pixel p = At(x, y);
        EXPECT_EQ(p.R, Shown(wordAt(0, x, y))) << x << "," << y;
        EXPECT_EQ(p.G, Shown(wordAt(1, x, y))) << x << "," << y;
        EXPECT_EQ(p.B, Shown(wordAt(2, x, y))) << x << "," << y;
      }
    }
  }
}

TEST_F(RgbPlanesReaderTest, BothColourOptionsApplyInOrder) {
  // Codes that give (191, 120, 60): tone mapping makes it (242, 135, 67), and the gamut
  // conversion of that (255, 115, 47). The other order would give something else.
  const auto wordFor = [](int32_t full) {
    int32_t j = 0;
    while (NarrowToFullTable[j] != full) ++j;
    return uint16_t(0xC000 | j << 2);
  };
  const uint16_t known[3] = {wordFor(191), wordFor(120), wordFor(60)};
  const std::string path =
      WritePlanes(dir_, "colour2K", 4, 4, [&](uint32_t row, uint32_t x, int c) {
        return row == 0 && x == 0 ? known[c] : WhereWord(row, x, c);
      });
  struct Flags {
    int32_t hdrToSdr, bt709;
  };
  const Flags flags[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (const Flags& f : flags) {
    SCOPED_TRACE("hdr " + std::to_string(f.hdrToSdr) + " bt709 " + std::to_string(f.bt709));
    SizeBitmap(4, 4, 1);
    Viewer.HdrToSdr = f.hdrToSdr;
    Viewer.Bt709 = f.bt709;
    ASSERT_EQ(Read(path), 0);
    for (int32_t y = 0; y < 2; ++y) {
      for (int32_t x = 0; x < 2; ++x) {
        const uint32_t row = uint32_t(1 + 2 * y), column = uint32_t(2 * x);
        PixelTriple expected{Shown(WhereWord(row, column, 0)), Shown(WhereWord(row, column, 1)),
                             Shown(WhereWord(row, column, 2))};
        ApplyColourOptions(expected);
        const Pixel p = At(x, y);
        EXPECT_EQ(p.R, expected.R);
        EXPECT_EQ(p.G, expected.G);
        EXPECT_EQ(p.B, expected.B);
      }
    }
  }
  SizeBitmap(4, 4, 0);  // file row 0 is shown only at full size
  Viewer.HdrToSdr = 1;
  Viewer.Bt709 = 1;
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(At(0, 0).R, 255);
  EXPECT_EQ(At(0, 0).G, 115);
  EXPECT_EQ(At(0, 0).B, 47);
}

TEST_F(RgbPlanesReaderTest, BitmapOfAnotherSizeIsNotWritten) {
  const std::string path = WritePlanes(dir_, "frame2K", 8, 8, WhereWord);
  // A shift changed without the rebuild: the bitmap is 8 x 8, the frame needs 4 x 4.
  SizeBitmap(8, 8, 0);
  FillBitmap(0x33);
  Viewer.ScaleShift = 1;
  EXPECT_EQ(Read(path), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));

  // Playback from a 4K frame into one of another size: the size is recorded, then a reload
  // without the rebuild finds the 4K bitmap.
  WritePlanes(dir_, "frame8K", 8, 8, WhereWord);
  SizeBitmap(3840, 2160, 3);
  FillBitmap(0x33);
  EXPECT_EQ(Read(dir_ / "frame8K.r"), 0);
  EXPECT_EQ(Viewer.SourceWidth, 7680);
  EXPECT_EQ(Read(dir_ / "frame8K.r"), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));
  // All three planes were closed again.
  for (const char* name : {"frame8K.r", "frame8K.g", "frame8K.b"}) {
    EXPECT_TRUE(std::filesystem::remove(dir_ / name)) << name;
  }
}

}  // namespace
