// The cases every frame reader of R, G, B samples must pass, run for the DPX and the planar
// reader alike: which file samples land where at every scale, the 10-bit code, files cut
// short, the colour options and a bitmap built for another shift. Each reader's test file gives
// a small adapter and instantiates the cases for it:
//   static int32_t Read();                    the reader, on Viewer.Path
//   static uint16_t Sample(uint32_t code);    a file sample holding a 10-bit code, with junk in
//                                             the bits the reader must ignore
//   static uint32_t Code(uint16_t sample);    the code the reader takes from a sample
//   static std::vector<NamedFile> Files(stem, w, h, sample);  a w x h frame that decodes at the
//                                             size already set; the first file is the one opened
//   static Place Where(w, row, x, c);         the file and byte of a sample of a w-wide frame
//   kCodes, kShortFrames                      its rows of the code and short-file tables
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "test_files.h"

constexpr uint8_t kFourthByteMark = 0xA5;

// sample(fileRow, column, c), c = 0, 1, 2 for R, G, B.
using SampleOf = std::function<uint16_t(uint32_t, uint32_t, int)>;

struct NamedFile {
  std::string name;
  Bytes bytes;
};
struct Place {
  size_t file, at;
};
struct CodeCase {
  uint16_t sample;
  int32_t code;
};
struct ShortFrame {
  const char* stem;
  size_t bytes[3];  // how much of each file of an 8 x 8 frame is there
};

// Writes the files; returns the path of the first.
inline std::string WriteFiles(const TestDir& dir, const std::vector<NamedFile>& files) {
  for (const NamedFile& f : files) dir.Write(f.name, f.bytes);
  return dir / files.front().name;
}

inline uint8_t Full(uint32_t code) {
  return uint8_t(NarrowToFullTable[code]);
}
template <typename Frames>
uint8_t Shown(uint16_t sample) {
  return Full(Frames::Code(sample));
}

// Every file pixel tells where it came from: R the file row, G the column, B both. Video levels
// from 16 up are distinct after the narrow-to-full stretch, which is steeper than 1.
inline uint32_t WhereCode(uint32_t row, uint32_t column, int c) {
  return 4 * (c == 0 ? 16 + 8 * row : c == 1 ? 16 + 8 * column : 16 + row + column);
}
template <typename Frames>
uint16_t WhereSample(uint32_t row, uint32_t column, int c) {
  return Frames::Sample(WhereCode(row, column, c));
}

struct Pixel {
  uint8_t B, G, R, Fourth;
};
inline Pixel At(int32_t x, int32_t yFromTop) {
  const uint8_t* p = BitmapPixel(x, yFromTop);
  return {p[0], p[1], p[2], p[3]};
}
inline size_t BitmapBytes() {
  const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
  return size_t(h.biWidth) * size_t(h.biHeight) * 4;
}
// Every bitmap byte set to value, so a write anywhere shows.
inline void FillBitmap(uint8_t value) {
  if (Viewer.FramePixels != nullptr) std::memset(Viewer.FramePixels, value, BitmapBytes());
}
inline bool BitmapIsAll(uint8_t value) {
  for (size_t i = 0; i < BitmapBytes(); ++i) {
    if (Viewer.FramePixels[i] != value) return false;
  }
  return true;
}

template <typename Frames>
class FrameReaderTest : public ::testing::Test {
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
    return Frames::Read();
  }
  std::string Write(const std::string& stem, uint32_t w, uint32_t h, const SampleOf& sample) {
    return WriteFiles(dir_, Frames::Files(stem, w, h, sample));
  }

  TestDir dir_;
};

TYPED_TEST_SUITE_P(FrameReaderTest);

TYPED_TEST_P(FrameReaderTest, ShowsEveryStepthRowFromTheBottomAndColumnFromTheLeft) {
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
    const std::string path = this->Write("where", c.w, c.h, WhereSample<TypeParam>);
    for (int32_t s = 0; s <= 3; ++s) {
      SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " at shift " +
                   std::to_string(s));
      this->SizeBitmap(int32_t(c.w), int32_t(c.h), s);
      FillBitmap(0x11);
      // Byte 3 of every pixel marked: no reader writes it.
      for (size_t i = 3; i < BitmapBytes(); i += 4) Viewer.FramePixels[i] = kFourthByteMark;
      ASSERT_EQ(this->Read(path), 0);

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
          EXPECT_EQ(p.R, Full(WhereCode(row, x, 0))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.G, Full(WhereCode(row, x, 1))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.B, Full(WhereCode(row, x, 2))) << "file row " << row << " col " << x;
          EXPECT_EQ(p.Fourth, kFourthByteMark);
          ++shown;
        }
      }
      EXPECT_EQ(shown, bitmapW * bitmapH);  // every bitmap pixel has its one source
    }
  }
}

TYPED_TEST_P(FrameReaderTest, CodeIsTenBitsOfTheSample) {
  const auto& cases = TypeParam::kCodes;
  const uint32_t n = uint32_t(std::size(cases));
  // R carries the sample; G and B carry it too, rotated, so every channel is checked.
  const std::string path = this->Write("codes", n, 1, [&](uint32_t, uint32_t x, int c) {
    return cases[(x + uint32_t(c)) % n].sample;
  });
  this->SizeBitmap(int32_t(n), 1, 0);
  ASSERT_EQ(this->Read(path), 0);
  for (uint32_t x = 0; x < n; ++x) {
    EXPECT_EQ(At(int32_t(x), 0).R, NarrowToFullTable[cases[x].code]) << cases[x].sample;
    EXPECT_EQ(At(int32_t(x), 0).G, NarrowToFullTable[cases[(x + 1) % n].code]);
    EXPECT_EQ(At(int32_t(x), 0).B, NarrowToFullTable[cases[(x + 2) % n].code]);
  }
}

TYPED_TEST_P(FrameReaderTest, ShortFilesShowBlackNotTheLastFrame) {
  const std::string whitePath =
      this->Write("white", 8, 8, [](uint32_t, uint32_t, int) { return TypeParam::Sample(1023); });
  for (const ShortFrame& c : TypeParam::kShortFrames) {
    SCOPED_TRACE(c.stem);
    std::vector<NamedFile> files = TypeParam::Files(c.stem, 8, 8, WhereSample<TypeParam>);
    for (size_t i = 0; i < files.size(); ++i) {
      files[i].bytes.resize(std::min(files[i].bytes.size(), c.bytes[i]));
    }
    const std::string path = WriteFiles(this->dir_, files);
    this->SizeBitmap(8, 8, 0);
    // A white frame first, so the ReadBuffer holds bytes that would show as white.
    ASSERT_EQ(this->Read(whitePath), 0);
    ASSERT_EQ(At(7, 7).R, 255);
    EXPECT_EQ(this->Read(path), 0);
    // Naive model: a sample's bytes beyond the end of its file read as 0.
    const auto shown = [&](int32_t x, int32_t y, int c) {
      const Place place = TypeParam::Where(8, uint32_t(y), uint32_t(x), c);
      const Bytes& b = files[place.file].bytes;
      const auto byte = [&](size_t at) { return at < b.size() ? b[at] : 0; };
      return Shown<TypeParam>(uint16_t(byte(place.at) << 8 | byte(place.at + 1)));
    };
    for (int32_t y = 0; y < 8; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const Pixel p = At(x, y);
        EXPECT_EQ(p.R, shown(x, y, 0)) << x << "," << y;
        EXPECT_EQ(p.G, shown(x, y, 1)) << x << "," << y;
        EXPECT_EQ(p.B, shown(x, y, 2)) << x << "," << y;
      }
    }
  }
}

TYPED_TEST_P(FrameReaderTest, BothColourOptionsApplyInOrder) {
  // Codes that give (191, 120, 60): tone mapping makes it (242, 135, 67), and the gamut
  // conversion of that (255, 115, 47). The other order would give something else.
  const auto codeFor = [](int32_t full) {
    uint32_t j = 0;
    while (NarrowToFullTable[j] != full) ++j;
    return TypeParam::Sample(j);
  };
  const uint16_t known[3] = {codeFor(191), codeFor(120), codeFor(60)};
  const std::string path = this->Write("colour", 4, 4, [&](uint32_t row, uint32_t x, int c) {
    return row == 0 && x == 0 ? known[c] : WhereSample<TypeParam>(row, x, c);
  });
  struct Flags {
    int32_t hdrToSdr, bt709;
  };
  const Flags flags[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (const Flags& f : flags) {
    SCOPED_TRACE("hdr " + std::to_string(f.hdrToSdr) + " bt709 " + std::to_string(f.bt709));
    this->SizeBitmap(4, 4, 1);
    Viewer.HdrToSdr = f.hdrToSdr;
    Viewer.Bt709 = f.bt709;
    ASSERT_EQ(this->Read(path), 0);
    for (int32_t y = 0; y < 2; ++y) {
      for (int32_t x = 0; x < 2; ++x) {
        const uint32_t row = uint32_t(1 + 2 * y), column = uint32_t(2 * x);
        PixelTriple expected{Full(WhereCode(row, column, 0)), Full(WhereCode(row, column, 1)),
                             Full(WhereCode(row, column, 2))};
        ApplyColourOptions(expected);
        const Pixel p = At(x, y);
        EXPECT_EQ(p.R, expected.R);
        EXPECT_EQ(p.G, expected.G);
        EXPECT_EQ(p.B, expected.B);
      }
    }
  }
  this->SizeBitmap(4, 4, 0);  // file row 0 is shown only at full size
  Viewer.HdrToSdr = 1;
  Viewer.Bt709 = 1;
  ASSERT_EQ(this->Read(path), 0);
  EXPECT_EQ(At(0, 0).R, 255);
  EXPECT_EQ(At(0, 0).G, 115);
  EXPECT_EQ(At(0, 0).B, 47);
}

TYPED_TEST_P(FrameReaderTest, BitmapForAnotherShiftIsNotWritten) {
  const std::string path = this->Write("frame", 8, 8, WhereSample<TypeParam>);
  // A shift changed without the rebuild: the bitmap is 8 x 8, the frame needs 4 x 4.
  this->SizeBitmap(8, 8, 0);
  FillBitmap(0x33);
  Viewer.ScaleShift = 1;
  EXPECT_EQ(this->Read(path), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));
}

REGISTER_TYPED_TEST_SUITE_P(FrameReaderTest, ShowsEveryStepthRowFromTheBottomAndColumnFromTheLeft,
                            CodeIsTenBitsOfTheSample, ShortFilesShowBlackNotTheLastFrame,
                            BothColourOptionsApplyInOrder, BitmapForAnotherShiftIsNotWritten);
