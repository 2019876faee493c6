// The planar R/G/B reader: the shared frame reader cases, the size from the name, the three
// plane files, missing planes.
#include "formats/rgb_planes_reader.h"

#include <gtest/gtest.h>

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

constexpr char kPlaneLetters[] = "rgb";

// The planes stem.r, stem.g and stem.b: h rows of w big-endian words each.
std::vector<NamedFile> Planes(const std::string& stem, uint32_t w, uint32_t h,
                              const SampleOf& word) {
  std::vector<NamedFile> planes;
  for (int plane = 0; plane < 3; ++plane) {
    planes.push_back({stem + "." + kPlaneLetters[plane], {}});
    for (uint32_t row = 0; row < h; ++row) {
      for (uint32_t column = 0; column < w; ++column) {
        PutBigEndian16(planes.back().bytes, planes.back().bytes.size(), word(row, column, plane));
      }
    }
  }
  return planes;
}

struct PlanarFrames {
  static int32_t Read() { return ReadRgbPlanesFrame(); }
  // The code in bits 2..11, junk in the two bits below it and in the top four.
  static uint16_t Sample(uint32_t code) { return uint16_t(0xA000 | code << 2 | 0x3); }
  static uint32_t Code(uint16_t word) { return (word >> 2) & 0x3FF; }
  // "2K": not a size of its own, so the size already set is decoded.
  static std::vector<NamedFile> Files(const std::string& stem, uint32_t w, uint32_t h,
                                      const SampleOf& word) {
    return Planes(stem + "2K", w, h, word);
  }
  static Place Where(uint32_t w, uint32_t row, uint32_t x, int plane) {
    return {size_t(plane), (size_t(row) * w + x) * 2};
  }
  static constexpr CodeCase kCodes[] = {
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
  // How much of each 128-byte plane the file holds.
  static constexpr ShortFrame kShortFrames[] = {
      {"cutg", {128, 5 * 16 + 3 * 2 + 1, 128}},  // G ends inside a word: its low byte is 0
      {"cutb", {128, 128, 2 * 16}},              // B ends between rows
      {"emptyr", {0, 128, 128}},                 // an empty R plane
      {"cutall", {16, 40, 0}},                   // all three short, each differently
  };
};

using RgbPlanesReaderTest = FrameReaderTest<PlanarFrames>;
INSTANTIATE_TYPED_TEST_SUITE_P(RgbPlanes, FrameReaderTest, PlanarFrames);

char LastPathCharacter() {
  return Viewer.Path[std::strlen(Viewer.Path) - 1];
}

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
    return WhereSample<PlanarFrames>(row, column % 64, plane);
  };
  WriteFiles(dir_, Planes("clip_0001.4K", 3840, 8, word));
  const std::string path = dir_ / "clip_0001.4K.g";
  SizeBitmap(16, 8, 3);
  FillBitmap(0x33);
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(Viewer.SourceWidth, 3840);
  EXPECT_EQ(Viewer.SourceHeight, 2160);
  EXPECT_EQ(LastPathCharacter(), 'g');  // nothing opened yet
  // A reload without the rebuild finds the old bitmap and leaves it alone.
  EXPECT_EQ(Read(path), -1);
  EXPECT_TRUE(BitmapIsAll(0x33));

  ASSERT_TRUE(FrameBufferNeedsRefit());
  ResetFrameBuffer();
  ASSERT_EQ(Read(path), 0);
  EXPECT_EQ(LastPathCharacter(), 'b');
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biWidth, 480);
  ASSERT_EQ(Viewer.FrameInfo.bmiHeader.biHeight, 270);
  for (int32_t x = 0; x < 480; x += 37) {
    EXPECT_EQ(At(x, 0).R, Shown<PlanarFrames>(word(7, uint32_t(x) * 8, 0))) << x;
    EXPECT_EQ(At(x, 0).G, Shown<PlanarFrames>(word(7, uint32_t(x) * 8, 1))) << x;
    EXPECT_EQ(At(x, 0).B, Shown<PlanarFrames>(word(7, uint32_t(x) * 8, 2))) << x;
    EXPECT_EQ(At(x, 1).R | At(x, 1).G | At(x, 1).B, 0) << x;
    EXPECT_EQ(At(x, 269).R | At(x, 269).G | At(x, 269).B, 0) << x;
  }
  // All three planes were closed again, after the refusal as after the decode: Windows
  // refuses to delete a file that is still open.
  for (const char* letter : {"r", "g", "b"}) {
    EXPECT_TRUE(std::filesystem::remove(dir_ / (std::string("clip_0001.4K.") + letter)));
  }
}

TEST_F(RgbPlanesReaderTest, AnyPlaneOfTheFrameShowsTheSamePicture) {
  WriteFiles(dir_, Planes("clip2K", 8, 6, WhereSample<PlanarFrames>));
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
        EXPECT_EQ(p.R, Full(WhereCode(uint32_t(y), uint32_t(x), 0))) << x << "," << y;
        EXPECT_EQ(p.G, Full(WhereCode(uint32_t(y), uint32_t(x), 1))) << x << "," << y;
        EXPECT_EQ(p.B, Full(WhereCode(uint32_t(y), uint32_t(x), 2))) << x << "," << y;
      }
    }
  }
}

TEST_F(RgbPlanesReaderTest, MissingPlaneFailsAndChangesNothing) {
  for (int missing = 0; missing < 3; ++missing) {
    SCOPED_TRACE(std::string("missing plane ") + kPlaneLetters[missing]);
    const std::string path = WriteFiles(dir_, Planes("gap8K", 8, 6, WhereSample<PlanarFrames>));
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

}  // namespace
