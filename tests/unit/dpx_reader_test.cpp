// The DPX reader: the shared frame reader cases, the size handshake, header offsets, short and
// odd files.
#include "formats/dpx_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "frame_reader_cases.h"
#include "test_files.h"

namespace {

constexpr uint32_t kHeaderBytes = 2048;

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

// A whole file: the header, then h rows of w pixels of three 16-bit samples.
Bytes DpxFile(uint32_t w, uint32_t h, const SampleOf& sample, uint32_t imageOffset = kHeaderBytes) {
  Bytes b = DpxHeader(w, h, imageOffset);
  for (uint32_t row = 0; row < h; ++row) {
    for (uint32_t column = 0; column < w; ++column) {
      for (int c = 0; c < 3; ++c) PutBigEndian16(b, b.size(), sample(row, column, c));
    }
  }
  return b;
}

struct DpxFrames {
  static int32_t Read() { return ReadDpxFrame(); }
  // The code in the top ten bits, junk in the six below it.
  static uint16_t Sample(uint32_t code) { return uint16_t(code << 6 | 0x2A); }
  static uint32_t Code(uint16_t sample) { return sample >> 6; }
  static std::vector<NamedFile> Files(const std::string& stem, uint32_t w, uint32_t h,
                                      const SampleOf& sample) {
    return {{stem + ".dpx", DpxFile(w, h, sample)}};
  }
  static Place Where(uint32_t w, uint32_t row, uint32_t x, int c) {
    return {0, kHeaderBytes + (size_t(row) * w + x) * 6 + size_t(c) * 2};
  }
  static constexpr CodeCase kCodes[] = {
      {0x0000, 0},     // below black
      {0x1000, 64},    // narrow black
      {0x107F, 65},    // still black: the low byte's top two bits count...
      {0x1080, 66},    // ...and 66 is the first code above black
      {0x10BF, 66},    // the low six bits are ignored
      {0x7D80, 502},   // mid grey, 128
      {0xEB00, 940},   // narrow white
      {0xFFFF, 1023},  // above white
  };
  static constexpr ShortFrame kShortFrames[] = {
      {"cut", {kHeaderBytes + 5 * 48 + 3 * 6 + 2}},  // inside a pixel: R arrived, G and B not
      {"rows", {kHeaderBytes + 2 * 48}},             // between rows
      {"header", {780}},                             // no image data at all
  };
};

using DpxReaderTest = FrameReaderTest<DpxFrames>;
INSTANTIATE_TYPED_TEST_SUITE_P(Dpx, FrameReaderTest, DpxFrames);

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
  const std::string path = Write("frame", 16, 8, WhereSample<DpxFrames>);
  ResetFrameBuffer();  // the start-up bitmap, 3840 x 2160 at 1/4
  FillBitmap(0x33);
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(Viewer.SourceWidth, 16);
  EXPECT_EQ(Viewer.SourceHeight, 8);
  EXPECT_TRUE(BitmapIsAll(0x33));
  // A reload without the rebuild finds the old bitmap and leaves it alone.
  EXPECT_EQ(Read(path), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));

  ASSERT_TRUE(FrameBufferNeedsRefit());
  ResetFrameBuffer();
  ASSERT_EQ(Read(path), 0);
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 4);
  EXPECT_EQ(At(0, 0).R, Full(WhereCode(3, 0, 0)));  // file row 3 is the top at 1/4
  EXPECT_EQ(At(3, 1).G, Full(WhereCode(7, 12, 1)));
}

TEST_F(DpxReaderTest, ImageDataStartAtTheirOffset) {
  Bytes file = DpxFile(4, 4, WhereSample<DpxFrames>, 8192);
  // Garbage between the header and the image data that must not be read as pixels.
  std::fill(file.begin() + 780, file.begin() + 8192, uint8_t(0xFF));
  SizeBitmap(4, 4, 0);
  ASSERT_EQ(Read(dir_.Write("offset.dpx", file)), 0);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 4; ++x) {
      EXPECT_EQ(At(x, y).R, Full(WhereCode(uint32_t(y), uint32_t(x), 0)));
      EXPECT_EQ(At(x, y).G, Full(WhereCode(uint32_t(y), uint32_t(x), 1)));
    }
  }

  // An offset beyond the end of the file: black, not the white frame read before it.
  Bytes pastEnd = DpxHeader(4, 4);
  PutBigEndian32(pastEnd, 4, 1u << 20);
  ASSERT_EQ(Read(Write("white", 4, 4, [](uint32_t, uint32_t, int) { return 0xFFFF; })), 0);
  ASSERT_EQ(At(3, 3).R, 255);
  ASSERT_EQ(Read(dir_.Write("past.dpx", pastEnd)), 0);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(x, y).R | At(x, y).G | At(x, y).B, 0);
  }
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
