// The v210 frame reader: row unpacking and conversion, frame location, the size handshake, and
// whole 4K movies built in code.
#include "formats/v210_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "formats/mov_atoms.h"
#include "formats/v210_row.h"
#include "test_files.h"

// Outside the unnamed namespace so that GoogleTest's comparisons find them by argument lookup.
static bool operator==(const PixelTriple& a, const PixelTriple& b) {
  return a.R == b.R && a.G == b.G && a.B == b.B;
}

static std::ostream& operator<<(std::ostream& out, const PixelTriple& p) {
  return out << "(" << p.R << ", " << p.G << ", " << p.B << ")";
}

namespace {

constexpr uint32_t k4kSampleSize = 22118400;
constexpr uint32_t k8kSampleSize = 88473600;
constexpr int32_t k4kStride = 10240;

void PutLittleEndian32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

// One group of six pixels: Y0..Y5, Cb0..Cb2, Cr0..Cr2, packed in the v210 word order.
struct Group {
  uint16_t y[6];
  uint16_t cb[3];
  uint16_t cr[3];
};

void PutGroup(uint8_t* at, const Group& g) {
  PutLittleEndian32(at, g.cb[0] | g.y[0] << 10 | uint32_t(g.cr[0]) << 20);
  PutLittleEndian32(at + 4, g.y[1] | g.cb[1] << 10 | uint32_t(g.y[2]) << 20);
  PutLittleEndian32(at + 8, g.cr[1] | g.y[3] << 10 | uint32_t(g.cb[2]) << 20);
  PutLittleEndian32(at + 12, g.y[4] | g.cr[2] << 10 | uint32_t(g.y[5]) << 20);
}

Group Grey(uint16_t y) {
  return {{y, y, y, y, y, y}, {512, 512, 512}, {512, 512, 512}};
}

PixelTriple Convert(int32_t y, int32_t cb, int32_t cr) {
  PixelTriple p;
  ConvertV210Pixel(y, cb, cr, p);
  return p;
}

// A grey's 8-bit value, written straight from the luma formula.
int32_t GreyLevel(int32_t y) {
  const int32_t v = int32_t(double(y - 64) * 1.1644) / 4;
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Unpacks a row and converts it into a fresh bitmap row whose fourth bytes hold 0xee, with one
// guard pixel of 0xee after the pixels the row should fill.
struct ConvertedRow {
  std::vector<uint8_t> pixels;
  PixelTriple At(size_t k) const { return {pixels[4 * k + 2], pixels[4 * k + 1], pixels[4 * k]}; }
};

ConvertedRow ConvertRow(const std::vector<uint8_t>& raw, int32_t width, int32_t shift) {
  const V210RowGeometry g = GetV210RowGeometry(width);
  std::vector<uint16_t> y(size_t(g.lumaSamples)), cb(size_t(g.chromaSamples)),
      cr(size_t(g.chromaSamples));
  UnpackV210Row(raw.data(), g, y.data(), cb.data(), cr.data());
  const size_t shown = size_t((width + (1 << shift) - 1) >> shift);
  ConvertedRow row{std::vector<uint8_t>(4 * (shown + 1), 0xee)};
  StoreV210Row(y.data(), cb.data(), cr.data(), width, shift, row.pixels.data());
  return row;
}

TEST(V210RowTest, ConvertsNarrowRangeYCbCr) {
  struct Case {
    int32_t y, cb, cr;
    PixelTriple rgb;
  };
  const Case cases[] = {
      {64, 512, 512, {0, 0, 0}},          // narrow-range black
      {940, 512, 512, {255, 255, 255}},   // white: 1020.0144 truncates to 1020, shifts to 255
      {1023, 512, 512, {255, 255, 255}},  // 279 before the clamp
      {502, 512, 512, {127, 127, 127}},   // 510.0072 -> 510 -> 127: truncation, not rounding
      {940, 512, 960, {255, 182, 255}},   // R clamped from 443
      {64, 512, 0, {0, 83, 0}},           // R = -859.4944 -> -859 -> -215 -> 0
      {0, 0, 0, {0, 88, 0}},              // all-zero bytes are dark green, not black
      {63, 512, 512, {0, 0, 0}},          // below black: -1.1644 truncates toward zero, to -1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.y << " " << c.cb << " " << c.cr);
    EXPECT_EQ(Convert(c.y, c.cb, c.cr), c.rgb);
  }
}

TEST(V210RowTest, EveryFieldLandsInItsPlace) {
  // Twelve different values, and bits 30 and 31 set in every word: they must be ignored.
  const Group g = {{11, 12, 13, 14, 15, 16}, {21, 22, 23}, {31, 32, 33}};
  std::vector<uint8_t> raw(16);
  PutGroup(raw.data(), g);
  for (int w = 0; w < 4; ++w) raw[4 * w + 3] |= 0xc0;

  const V210RowGeometry geometry = GetV210RowGeometry(6);
  uint16_t y[6], cb[3], cr[3];
  UnpackV210Row(raw.data(), geometry, y, cb, cr);
  EXPECT_EQ(std::vector<uint16_t>(y, y + 6), std::vector<uint16_t>({11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(std::vector<uint16_t>(cb, cb + 3), std::vector<uint16_t>({21, 22, 23}));
  EXPECT_EQ(std::vector<uint16_t>(cr, cr + 3), std::vector<uint16_t>({31, 32, 33}));
}

TEST(V210RowTest, OddColumnsShareTheChromaBeforeThem) {
  ResetViewerState();
  // Pixels 0 and 1 share Cb0/Cr0 (grey), pixels 2 and 3 share Cb1/Cr1 (magenta-ish).
  std::vector<uint8_t> raw(16);
  PutGroup(raw.data(), {{64, 940, 940, 940, 502, 502}, {512, 512, 512}, {512, 960, 512}});
  const ConvertedRow row = ConvertRow(raw, 6, 0);
  EXPECT_EQ(row.At(0), (PixelTriple{0, 0, 0}));
  EXPECT_EQ(row.At(1), (PixelTriple{255, 255, 255}));
  EXPECT_EQ(row.At(2), (PixelTriple{255, 182, 255}));
  EXPECT_EQ(row.At(3), (PixelTriple{255, 182, 255}));
  EXPECT_EQ(row.At(4), (PixelTriple{127, 127, 127}));
  EXPECT_EQ(row.At(5), (PixelTriple{127, 127, 127}));
  for (size_t k = 0; k < 6; ++k) EXPECT_EQ(row.pixels[4 * k + 3], 0xee) << "fourth byte " << k;
}

TEST(V210RowTest, ShownColumnsAndWidthsThatAreNotWholeGroups) {
  ResetViewerState();
  // Two groups whose luma climbs by column: 64, 164, 264, ... so each column is recognisable.
  std::vector<uint8_t> raw(32);
  const auto luma = [](int x) { return uint16_t(64 + 100 * x); };
  for (int g = 0; g < 2; ++g) {
    Group group = Grey(0);
    for (int i = 0; i < 6; ++i) group.y[i] = luma(6 * g + i);
    PutGroup(raw.data() + 16 * g, group);
  }
  struct Case {
    int32_t width, shift;
    std::vector<int> columns;  // the source columns expected, in bitmap order
  };
  const Case cases[] = {
      {8, 0, {0, 1, 2, 3, 4, 5, 6, 7}},  // 8 wide: the second group is only partly shown
      {7, 1, {0, 2, 4, 6}},              // half size of an odd width
      {12, 2, {0, 4, 8}},                // quarter size
      {11, 3, {0, 8}},                   // eighth size
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " wide, shift " << c.shift);
    const ConvertedRow row = ConvertRow(raw, c.width, c.shift);
    for (size_t k = 0; k < c.columns.size(); ++k) {
      const int32_t v = GreyLevel(luma(c.columns[k]));
      EXPECT_EQ(row.At(k), (PixelTriple{v, v, v})) << "bitmap column " << k;
    }
    // Nothing written past the last shown column.
    const size_t end = 4 * c.columns.size();
    EXPECT_EQ(std::vector<uint8_t>(row.pixels.begin() + end, row.pixels.end()),
              std::vector<uint8_t>(4, 0xee));
  }
}

TEST(V210RowTest, ColourOptionsApplyToEveryPixel) {
  ResetViewerState();
  BuildColourTables();
  Viewer.HdrToSdr = 1;
  std::vector<uint8_t> raw(16);
  PutGroup(raw.data(), Grey(502));  // 127 before the stage
  const int32_t v = HdrToSdrTable[127];
  EXPECT_EQ(ConvertRow(raw, 6, 0).At(5), (PixelTriple{v, v, v}));
}

TEST(V210RowTest, LongRowsOfEveryColourMatchThePixelFormula) {
  ResetViewerState();
  BuildColourTables();
  // Ten groups of scattered samples, bits 30 and 31 set in every word: long enough for the
  // vector paths (four groups, four pixels at a time), with ends that take the plain loops.
  std::vector<Group> groups(10);
  uint32_t seed = 2024;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return uint16_t(seed >> 16 & 0x3ff);
  };
  std::vector<uint8_t> raw(16 * groups.size());
  for (size_t g = 0; g < groups.size(); ++g) {
    for (uint16_t& v : groups[g].y) v = next();
    for (int i = 0; i < 3; ++i) groups[g].cb[i] = next(), groups[g].cr[i] = next();
    PutGroup(raw.data() + 16 * g, groups[g]);
  }
  for (size_t w = 0; w < raw.size() / 4; ++w) raw[4 * w + 3] |= 0xc0;

  struct Case {
    int32_t width, shift, hdrToSdr, bt709;
  };
  const Case cases[] = {
      {60, 0, 0, 0},  // every column, every sample of both planes
      {53, 0, 1, 1},  // a row that ends inside a group, both options on
      {60, 1, 0, 0},  // half size
      {58, 1, 1, 0},  //   tone mapping alone
      {60, 2, 0, 0},  // quarter size
      {59, 2, 1, 1},  //
      {60, 2, 0, 1},  //   BT.709 alone
      {60, 3, 0, 0},  // eighth size
      {57, 3, 1, 0},  //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.width << " wide, shift " << c.shift << ", options " << c.hdrToSdr << c.bt709);
    Viewer.HdrToSdr = c.hdrToSdr;
    Viewer.Bt709 = c.bt709;
    const ConvertedRow row = ConvertRow(raw, c.width, c.shift);
    const size_t shown = size_t((c.width - 1) >> c.shift) + 1;
    for (size_t k = 0; k < shown; ++k) {
      const size_t x = k << c.shift, chroma = x / 2;
      PixelTriple want = Convert(groups[x / 6].y[x % 6], groups[chroma / 3].cb[chroma % 3],
                                 groups[chroma / 3].cr[chroma % 3]);
      ApplyColourOptions(want);
      EXPECT_EQ(row.At(k), want) << "bitmap column " << k;
      EXPECT_EQ(row.pixels[4 * k + 3], 0xee) << "fourth byte " << k;
    }
    EXPECT_EQ(std::vector<uint8_t>(row.pixels.begin() + 4 * shown, row.pixels.end()),
              std::vector<uint8_t>(4, 0xee));
  }
}

TEST(V210RowTest, BlackFillDecodesToBlackFromAnyByte) {
  ResetViewerState();
  // Fill from the middle of a word: the bytes already there stay, the rest become black.
  std::vector<uint8_t> raw(32);
  PutGroup(raw.data(), Grey(940));
  FillV210Black(raw.data(), 6, 32);
  const ConvertedRow row = ConvertRow(raw, 12, 0);
  EXPECT_EQ(row.At(0), (PixelTriple{255, 255, 255}));  // word 0 arrived whole
  for (size_t k = 2; k < 12; ++k) EXPECT_EQ(row.At(k), (PixelTriple{0, 0, 0})) << k;
}

TEST(V210RowTest, FrameOffsetsAre64Bit) {
  struct Case {
    uint64_t dataOffset;
    uint32_t sampleSize;
    int32_t index;
    int64_t offset;
  };
  const Case cases[] = {
      {28, k4kSampleSize, 0, 28},                                      // first frame
      {4096, k8kSampleSize, 50, 4096 + 4423680000LL},                  // beyond 4 GiB: no wrap
      {36, k8kSampleSize, INT32_MAX, 36 + 2147483647LL * 88473600LL},  // the last index
      {28, k4kSampleSize, -1, -1},                                     // refused, never a wild seek
      {28, k4kSampleSize, INT32_MIN, -1},                              //
      {uint64_t(INT64_MAX) - 10, k4kSampleSize, 1, -1},                // past what a file can hold
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(MovFrameOffset(c.dataOffset, c.sampleSize, c.index), c.offset);
  }
}

class V210ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetViewerState();
    BuildColourTables();
    ResetFrameBuffer();  // 960 x 540 for the default 3840 x 2160 at ScaleShift 2
  }
  TestDir dir_;
};

TEST_F(V210ReaderTest, SizeHandshakeNeedsNoFile) {
  struct Case {
    const char* why;
    uint32_t sampleSize;
    int32_t width, height;  // source size before
    int32_t result;
    int32_t newWidth, newHeight;
  };
  const Case cases[] = {
      {"8K movie after a 4K source", k8kSampleSize, 3840, 2160, 0, 7680, 4320},
      {"4K movie after a 4096-wide DPX", k4kSampleSize, 4096, 2160, 0, 3840, 2160},
      {"4K movie after an 8K one", k4kSampleSize, 7680, 4320, 0, 3840, 2160},
      {"per-sample sizes (stsz size 0)", 0, 3840, 2160, -1, 3840, 2160},
      {"a size that is no known frame", k4kSampleSize + 1, 3840, 2160, -1, 3840, 2160},
      {"same size, file missing", k4kSampleSize, 3840, 2160, -1, 3840, 2160},
  };
  ASSERT_TRUE(SetViewerPath(dir_ / "missing.mov"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Viewer.MovSampleSize = c.sampleSize;
    Viewer.SourceWidth = c.width;
    Viewer.SourceHeight = c.height;
    EXPECT_EQ(ReadMovFrame(), c.result);
    EXPECT_EQ(Viewer.SourceWidth, c.newWidth);
    EXPECT_EQ(Viewer.SourceHeight, c.newHeight);
  }
}

TEST_F(V210ReaderTest, RefusesToDecodeIntoABitmapOfAnotherSize) {
  // The source became 8K during playback, but the bitmap is still the 4K one: no handshake
  // runs, and the reader must not write 8K rows into it.
  Viewer.SourceWidth = 7680;
  Viewer.SourceHeight = 4320;
  Viewer.MovSampleSize = k8kSampleSize;
  ASSERT_TRUE(SetViewerPath(dir_.Write("small.mov", Bytes(64, 0xff))));
  EXPECT_EQ(ReadMovFrame(), -1);
  EXPECT_EQ(*BitmapPixel(0, 0), 0);
}

TEST_F(V210ReaderTest, RefusesANegativeFrameIndex) {
  Viewer.MovSampleSize = k4kSampleSize;
  Viewer.CurrentFrame = -1;
  ASSERT_TRUE(SetViewerPath(dir_.Write("small.mov", Bytes(64, 0xff))));
  EXPECT_EQ(ReadMovFrame(), -1);
}

// A real 4K movie: ftyp, mdat holding one frame, then moov. File row n, column c has the luma
// below and neutral chroma, so every pixel shows which row and column it came from.
uint16_t FrameLuma(int32_t row, int32_t column) {
  return uint16_t(64 + (row * 7 + column * 3) % 877);
}

constexpr size_t kFrameAt = 28;  // ftyp (20 bytes) and the mdat header (8)

const Bytes& FourKMovie() {
  static const Bytes movie = [] {
    Bytes m;
    PutBigEndian32(m, 0, 20);
    m.insert(m.end(), {'f', 't', 'y', 'p', 'q', 't', ' ', ' ', 0, 0, 2, 0, 'q', 't', ' ', ' '});
    PutBigEndian32(m, 20, 8 + k4kSampleSize);
    m.insert(m.end(), {'m', 'd', 'a', 't'});
    m.resize(kFrameAt + k4kSampleSize);
    for (int32_t n = 0; n < 2160; ++n) {
      for (int32_t g = 0; g < 640; ++g) {
        Group group = Grey(0);
        for (int i = 0; i < 6; ++i) group.y[i] = FrameLuma(n, 6 * g + i);
        PutGroup(m.data() + kFrameAt + size_t(n) * k4kStride + 16 * size_t(g), group);
      }
    }
    // moov / trak / mdia / minf / stbl / stsz: one sample of the 4K size.
    const char* path[] = {"moov", "trak", "mdia", "minf", "stbl", "stsz"};
    for (int i = 0; i < 6; ++i) {
      const size_t at = m.size();
      PutBigEndian32(m, at, uint32_t(8 * (6 - i) + 12));
      m.insert(m.end(), path[i], path[i] + 4);
    }
    const size_t at = m.size();
    PutBigEndian32(m, at, 0);
    PutBigEndian32(m, at + 4, k4kSampleSize);
    PutBigEndian32(m, at + 8, 1);
    return m;
  }();
  return movie;
}

// Bitmap row t (from the top) at ScaleShift 2 shows file row 4t + 3, column k file column 4k.
void ExpectQuarterSizeFrame(int32_t firstMissingRow, size_t columnsOfThatRow) {
  for (int32_t t = 0; t < 540; ++t) {
    const int32_t n = 4 * t + 3;
    for (int32_t k = 0; k < 960; ++k) {
      const bool held =
          n < firstMissingRow || (n == firstMissingRow && size_t(k) < columnsOfThatRow);
      const int32_t v = held ? GreyLevel(FrameLuma(n, 4 * k)) : 0;
      const uint8_t* p = BitmapPixel(k, t);
      if (p[0] != v || p[1] != v || p[2] != v || p[3] != 0x5a) {
        ADD_FAILURE() << "bitmap (" << k << ", " << t << ") is " << int(p[0]) << " " << int(p[1])
                      << " " << int(p[2]) << " " << int(p[3]) << ", expected " << v;
        return;
      }
    }
  }
}

void MarkFourthBytes() {
  const size_t pixels = size_t(Viewer.FrameInfo.bmiHeader.biWidth) * 540;
  for (size_t i = 0; i < pixels; ++i) Viewer.FramePixels[4 * i + 3] = 0x5a;
}

TEST_F(V210ReaderTest, QuarterSizeShowsEveryFourthRowFromTheBottom) {
  ASSERT_TRUE(SetViewerPath(dir_.Write("clip.mov", FourKMovie())));
  ASSERT_EQ(ScanMovAtoms(), 1);
  EXPECT_EQ(Viewer.MovDataOffset, kFrameAt);
  MarkFourthBytes();
  ASSERT_EQ(ReadMovFrame(), 0);
  // File row 3 is the top of the bitmap; file row 0 is never shown.
  EXPECT_EQ(BitmapPixel(0, 0)[0], GreyLevel(FrameLuma(3, 0)));
  ExpectQuarterSizeFrame(2160, 0);
}

TEST_F(V210ReaderTest, RowsTheFileDoesNotHoldShowBlack) {
  const std::string whole = dir_.Write("clip.mov", FourKMovie());
  ASSERT_TRUE(SetViewerPath(whole));
  ASSERT_EQ(ScanMovAtoms(), 1);
  MarkFourthBytes();
  ASSERT_EQ(ReadMovFrame(), 0);  // fills the row buffer with real rows first

  // Cut inside file row 1003, a shown one: 312 whole groups and two words of the next arrive.
  // Neither that row's tail nor any later row may show what the earlier read left behind.
  const Bytes& movie = FourKMovie();
  const std::string cut = dir_ / "cut.mov";
  {
    std::ofstream out(cut, std::ios::binary);
    out.write(reinterpret_cast<const char*>(movie.data()),
              std::streamsize(kFrameAt + 1003 * k4kStride + 312 * 16 + 8));
  }
  ASSERT_TRUE(SetViewerPath(cut));
  EXPECT_EQ(ReadMovFrame(), 0);
  ExpectQuarterSizeFrame(1003, 469);  // column 468 (pixel 1872) has its luma, 469 does not

  // A frame past the last sample: nothing of it is in the file.
  ASSERT_TRUE(SetViewerPath(whole));
  Viewer.CurrentFrame = 1;
  EXPECT_EQ(ReadMovFrame(), 0);
  ExpectQuarterSizeFrame(0, 0);
}

}  // namespace
