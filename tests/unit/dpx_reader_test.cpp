// The DPX reader: which file pixels land where, the size handshake, short and odd files.
#include "formats/dpx_reader.h"

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

constexpr uint32_t kHeaderBytes = 2048;
constexpr uint8_t kFourthByteMark = 0xA5;

// The header of a big-endian DPX file: "SDPX", the offset to image data, the size at 772,
// zeros up to the image data (or up to the end of the size fields when that is earlier).
Bytes DpxHeader(uint32_t w, uint32_t h, uint32_t imageOffset = kHeaderBytes) {
  Bytes b(imageOffset < 780 ? 780 : imageOffset, 0);
  b[0] = 'S', b[1] = 'D', b[2] = 'P', b[3] = 'X';
  PutBigEndian32(b, 4, imageOffset);
  PutBigEndian32(b, 772, w);
  PutBigEndian32(b, 776, h);
  return b;
}

// A whole file: the header, then h rows of w pixels of three 16-bit samples from
// sample(fileRow, column, c), c = 0, 1, 2 for R, G, B.
template <typename SampleOf>
Bytes DpxFile(uint32_t w, uint32_t h, SampleOf sample, uint32_t imageOffset = kHeaderBytes) {
  Bytes b = DpxHeader(w, h, imageOffset);
  for (uint32_t row = 0; row < h; ++row) {
    for (uint32_t column = 0; column < w; ++column) {
      for (int c = 0; c < 3; ++c) PutBigEndian16(b, b.size(), sample(row, column, c));
    }
  }
  return b;
}

// A sample whose narrow-range code is the 8-bit video level, with junk in the 6 bits below the
// code that the reader must ignore.
uint16_t LevelSample(uint32_t level) {
  return uint16_t(level << 8 | 0x2A);
}
// What the bitmap shows for a sample: its top 10 bits, narrow to full range.
uint8_t Shown(uint16_t sample) {
  return uint8_t(NarrowToFullTable[sample >> 6]);
}

// Every file pixel tells where it came from: R the file row, G the column, B both. Video levels
// from 16 up are distinct after the narrow-to-full stretch, which is steeper than 1.
uint16_t WhereSample(uint32_t row, uint32_t column, int c) {
  const uint32_t level = c == 0 ? 16 + 8 * row : c == 1 ? 16 + 8 * column : 16 + row + column;
  return LevelSample(level);
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

// Every bitmap byte set to value, so a write anywhere shows.
void FillBitmap(uint8_t value) {
  if (Viewer.FramePixels != nullptr) std::memset(Viewer.FramePixels, value, BitmapBytes());
}
// Byte 3 of every pixel marked: no reader writes it.
void MarkFourthBytes() {
  for (size_t i = 3; i < BitmapBytes(); i += 4) Viewer.FramePixels[i] = kFourthByteMark;
}
bool BitmapIsAll(uint8_t value) {
  for (size_t i = 0; i < BitmapBytes(); ++i) {
    if (Viewer.FramePixels[i] != value) return false;
  }
  return true;
}

class DpxReaderTest : public ::testing::Test {
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
    return ReadDpxFrame();
  }

  TestDir dir_;
};

TEST_F(DpxReaderTest, ShowsEveryStepthRowFromTheBottomAndColumnFromTheLeft) {
  struct Case {
    uint32_t w, h;
  };
  const Case cases[] = {
      {8, 8},    // a multiple of every step; at full size the first file row is the top
      {16, 24},  // several rows per step at 1/8
      {7, 5},    // neither a multiple: the surplus column and top row are dropped
      {13, 11},  // odd both ways, several kept rows
      {9, 3},    // fewer rows than the step at 1/4 and 1/8: nothing to show there
      {1, 17},   // one column
  };
  for (const Case& c : cases) {
    const std::string path = dir_.Write("where.dpx", DpxFile(c.w, c.h, WhereSample));
    for (int32_t s = 0; s <= 3; ++s) {
      SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " at shift " +
                   std::to_string(s));
      SizeBitmap(int32_t(c.w), int32_t(c.h), s);
      FillBitmap(0x11);
      if (Viewer.FramePixels != nullptr) MarkFourthBytes();
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
          EXPECT_EQ(p.R, Shown(WhereSample(row, x, 0))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.G, Shown(WhereSample(row, x, 1))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.B, Shown(WhereSample(row, x, 2))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.Fourth, kFourthByteMark);
          ++shown;
        }
      }
      EXPECT_EQ(shown, bitmapW * bitmapH);  // every bitmap pixel has its one source
    }
  }
}

TEST_F(DpxReaderTest, CodeIsTheTopTenBitsOfTheSample) {
  struct Case {
    uint16_t sample;
    int32_t code;
  };
  const Case cases[] = {
      {0x0000, 0},     // below black
      {0x1000, 64},    // narrow black
      {0x107F, 65},    // still black: the low byte's top two bits count...
      {0x1080, 66},    // ...and 66 is the first code above black
      {0x10BF, 66},    // the low six bits are ignored
      {0x7D80, 502},   // mid grey, 128
      {0xEB00, 940},   // narrow white
      {0xFFFF, 1023},  // above white
  };
  const uint32_t n = uint32_t(std::size(cases));
  const std::string path = dir_.Write("codes.dpx", DpxFile(n, 1, [&](uint32_t, uint32_t x, int c) {
                                        // R carries the sample; G and B carry it too, rotated, so
                                        // every channel is checked.
                                        return cases[(x + uint32_t(c)) % n].sample;
                                      }));
  SizeBitmap(int32_t(n), 1, 0);
  ASSERT_EQ(Read(path), 0);
  for (uint32_t x = 0; x < n; ++x) {
    EXPECT_EQ(At(int32_t(x), 0).R, NarrowToFullTable[cases[x].code]) << cases[x].sample;
    EXPECT_EQ(At(int32_t(x), 0).G, NarrowToFullTable[cases[(x + 1) % n].code]);
    EXPECT_EQ(At(int32_t(x), 0).B, NarrowToFullTable[cases[(x + 2) % n].code]);
  }
}

TEST_F(DpxReaderTest, SizeHandshakeRecordsOrRefusesANewSize) {
  struct Case {
    const char* name;
    Bytes file;
    int32_t result;
    int32_t width, height;  // the source size afterwards
  };
  Bytes littleEndian = DpxHeader(16, 16);
  std::memcpy(littleEndian.data(), "XPDS", 4);
  const Bytes wholeHeader = DpxHeader(16, 16);
  const Bytes shortHeader(wholeHeader.begin(), wholeHeader.begin() + 778);
  const Case cases[] = {
      {"8k.dpx", DpxHeader(7680, 4320), 0, 7680, 4320},            // the largest size is taken
      {"wide.dpx", DpxHeader(7681, 4320), -1, 3840, 2160},         // one pixel too wide
      {"tall.dpx", DpxHeader(7680, 4321), -1, 3840, 2160},         // one line too many
      {"negative.dpx", DpxHeader(0xFFFFFFFF, 8), -1, 3840, 2160},  // unsigned: huge
      {"small.dpx", DpxHeader(7, 5), 0, 7, 5},                     // any size within the limits
      {"empty.dpx", DpxHeader(0, 8), 0, 0, 8},                     // even a width of 0
      {"xpds.dpx", littleEndian, -1, 3840, 2160},                  // little-endian DPX
      {"short.dpx", shortHeader, -1, 3840, 2160},                  // ends before the height
      {"magic.dpx", Bytes{'S', 'D', 'P'}, -1, 3840, 2160},         // too short for the magic
      {"noheader.dpx", Bytes{'S', 'D', 'P', 'X', 0, 0, 8, 0}, -1, 3840, 2160},  // no size
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetViewerState();
    ResetFrameBuffer();
    uint8_t* const pixels = Viewer.FramePixels;
    FillBitmap(0x33);
    const std::string path = dir_.Write(c.name, c.file);
    EXPECT_EQ(Read(path), c.result);
    EXPECT_EQ(Viewer.SourceWidth, c.width);
    EXPECT_EQ(Viewer.SourceHeight, c.height);
    // The bitmap is the caller's to rebuild: untouched, the old picture still there.
    EXPECT_EQ(Viewer.FramePixels, pixels);
    EXPECT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 960);
    EXPECT_TRUE(BitmapIsAll(0x33));
    // Closed again: Windows refuses to delete a file that is still open.
    std::error_code error;
    EXPECT_TRUE(std::filesystem::remove(path, error)) << error.message();
  }
}

TEST_F(DpxReaderTest, SecondCallAfterTheResetDecodes) {
  const std::string path = dir_.Write("frame.dpx", DpxFile(16, 8, WhereSample));
  ResetFrameBuffer();  // the start-up bitmap, 3840 x 2160 at 1/4
  FillBitmap(0x33);
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(Viewer.SourceWidth, 16);
  EXPECT_EQ(Viewer.SourceHeight, 8);
  EXPECT_TRUE(BitmapIsAll(0x33));

  ASSERT_TRUE(FrameBufferNeedsRefit());
  ResetFrameBuffer();
  ASSERT_EQ(Read(path), 0);
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 4);
  EXPECT_EQ(At(0, 0).R, Shown(WhereSample(3, 0, 0)));  // file row 3 is the top at 1/4
  EXPECT_EQ(At(3, 1).G, Shown(WhereSample(7, 12, 1)));
}

TEST_F(DpxReaderTest, ImageDataStartAtTheirOffset) {
  Bytes file = DpxFile(4, 4, WhereSample, 8192);
  // Garbage between the header and the image data that must not be read as pixels.
  std::fill(file.begin() + 780, file.begin() + 8192, uint8_t(0xFF));
  const std::string path = dir_.Write("offset.dpx", file);
  SizeBitmap(4, 4, 0);
  ASSERT_EQ(Read(path), 0);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 4; ++x) {
      EXPECT_EQ(At(x, y).R, Shown(WhereSample(uint32_t(y), uint32_t(x), 0)));
      EXPECT_EQ(At(x, y).G, Shown(WhereSample(uint32_t(y), uint32_t(x), 1)));
    }
  }
}

TEST_F(DpxReaderTest, MissingImageDataShowBlackNotTheLastFrame) {
  const auto white = [](uint32_t, uint32_t, int) { return uint16_t(0xFFFF); };
  const std::string whitePath = dir_.Write("white.dpx", DpxFile(8, 8, white));
  const Bytes whole = DpxFile(8, 8, WhereSample);
  struct Case {
    const char* name;
    Bytes file;
    int32_t fullRows;     // file rows that arrived whole
    int32_t pixelsInCut;  // whole pixels of the row cut short
    bool redInCut;        // and the R sample of the next one
  };
  Bytes pastEnd = DpxHeader(8, 8);
  PutBigEndian32(pastEnd, 4, 1u << 20);
  const auto cut = [&](size_t bytes) { return Bytes(whole.begin(), whole.begin() + bytes); };
  const Case cases[] = {
      {"cut.dpx", cut(kHeaderBytes + 5 * 48 + 3 * 6 + 2), 5, 3, true},  // inside a pixel
      {"rows.dpx", cut(kHeaderBytes + 2 * 48), 2, 0, false},            // between rows
      {"header.dpx", cut(780), 0, 0, false},                            // no image data at all
      {"past.dpx", pastEnd, 0, 0, false},  // offset to image data beyond the end of the file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SizeBitmap(8, 8, 0);
    // A white frame first, so the ReadBuffer holds bytes that would show as white.
    ASSERT_EQ(Read(whitePath), 0);
    ASSERT_EQ(At(7, 7).R, 255);
    EXPECT_EQ(Read(dir_.Write(c.name, c.file)), 0);
    for (int32_t y = 0; y < 8; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const Pixel p = At(x, y);
        if (y < c.fullRows || (y == c.fullRows && x < c.pixelsInCut)) {
          EXPECT_EQ(p.G, Shown(WhereSample(uint32_t(y), uint32_t(x), 1))) << x << "," << y;
        } else if (c.redInCut && y == c.fullRows && x == c.pixelsInCut) {
          // R arrived, G and B did not.
          EXPECT_EQ(p.R, Shown(WhereSample(uint32_t(y), uint32_t(x), 0)));
          EXPECT_EQ(p.G, 0);
          EXPECT_EQ(p.B, 0);
        } else {
          EXPECT_EQ(p.R | p.G | p.B, 0) << x << "," << y;
        }
      }
    }
  }
}

TEST_F(DpxReaderTest, BothColourOptionsApplyInOrder) {
  // Codes that give (191, 120, 60): tone mapping makes it (242, 135, 67), and the gamut
  // conversion of that (255, 115, 47). The other order would give something else.
  const auto codeFor = [](int32_t full) {
    int32_t j = 0;
    while (NarrowToFullTable[j] != full) ++j;
    return uint16_t(j << 6);
  };
  const uint16_t known[3] = {codeFor(191), codeFor(120), codeFor(60)};
  const std::string path =
      dir_.Write("colour.dpx", DpxFile(4, 4, [&](uint32_t row, uint32_t x, int c) {
                   return row == 0 && x == 0 ? known[c] : WhereSample(row, x, c);
                 }));
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
        PixelTriple expected{Shown(WhereSample(row, column, 0)), Shown(WhereSample(row, column, 1)),
                             Shown(WhereSample(row, column, 2))};
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

TEST_F(DpxReaderTest, BitmapOfAnotherSizeIsNotWritten) {
  const std::string path = dir_.Write("frame.dpx", DpxFile(8, 8, WhereSample));
  // A shift changed without the rebuild: the bitmap is 8 x 8, the frame needs 4 x 4.
  SizeBitmap(8, 8, 0);
  FillBitmap(0x33);
  Viewer.ScaleShift = 1;
  EXPECT_EQ(Read(path), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));

  // Playback into a frame of another size: the size is recorded, then a reload without the
  // rebuild finds the old 16 x 16 bitmap.
  SizeBitmap(16, 16, 0);
  FillBitmap(0x33);
  EXPECT_EQ(Read(path), 0);
  EXPECT_EQ(Viewer.SourceWidth, 8);
  EXPECT_EQ(Read(path), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));
}

TEST_F(DpxReaderTest, EmptyPictureWritesNothing) {
  const std::string path = dir_.Write("empty.dpx", DpxHeader(0, 8));
  SizeBitmap(8, 8, 0);
  FillBitmap(0x33);
  EXPECT_EQ(Read(path), 0);  // records 0 x 8
  EXPECT_EQ(Viewer.SourceWidth, 0);
  EXPECT_EQ(Read(path), 0);  // nothing to decode, even into the old bitmap
  EXPECT_TRUE(BitmapIsAll(0x33));
  ResetFrameBuffer();
  EXPECT_EQ(Viewer.FramePixels, nullptr);
  EXPECT_EQ(Read(path), 0);
}

TEST_F(DpxReaderTest, FileThatCannotBeReadFails) {
  SizeBitmap(8, 8, 0);
  EXPECT_EQ(Read(dir_ / "missing.dpx"), -1);
  std::filesystem::create_directory(dir_.path() / "folder.dpx");
  EXPECT_EQ(Read(dir_ / "folder.dpx"), -1);
}

}  // namespace
