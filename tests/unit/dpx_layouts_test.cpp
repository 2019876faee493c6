// DPX layouts as writers lay them out, each against the same picture written as 16-bit
// big-endian RGB: the bitmap must be the same at 1 and, with both colour options, at 1/4. The
// layouts not read must leave the picture as it was and say so.

#include "tests/unit/test_files.h"

namespace {

struct Patch {
  uint32_t at, value, bytes;  // a header field overwritten in the file's byte order
};

struct LayoutCase {
  DpxFileLayout layout;
  int32_t w, h;
  std::vector<Patch> patches;
  bool read;
};

constexpr DpxFileLayout L(uint8_t bits, uint16_t packing, bool little = false,
                          uint16_t orientation = 0, uint8_t descriptor = 50, uint32_t padding = 0,
                          bool wordPadded = false) {
  return {descriptor, bits, packing, little, orientation, padding, wordPadded};
}

const LayoutCase kCases[] = {
    {L(16, 0), 7, 5, {}, true},  // oiiotool and GraphicsMagick: odd rows end mid-word
    {L(16, 1, true), 7, 5, {}, true},
    {L(16, 0, false, 0, 50, 0, true), 7, 5, {}, true},  // ffmpeg: padded to 32 bits, says none
    {L(16, 0, true, 0, 51), 9, 6, {}, true},            // RGBA: alpha passed over
    {L(16, 0, false, 0, 51, 0, true), 5, 4, {}, true},
    {L(8, 0), 7, 5, {}, true},
    {L(8, 1, true, 0, 51, 0, true), 7, 5, {}, true},
    {L(8, 0, false, 0, 50, 0, true), 5, 9, {}, true},
    {L(10, 1), 13, 9, {}, true},  // the most common DPX there is
    {L(10, 1, true), 13, 9, {}, true},
    {L(10, 2), 13, 9, {}, true},
    {L(10, 2, true, 0, 51), 7, 5, {}, true},  // a word holds samples of two pixels
    {L(10, 1, false, 0, 51), 7, 5, {}, true},
    {L(10, 0), 7, 5, {}, true},  // packed: samples run on into the next word
    {L(10, 0, true, 0, 51), 7, 5, {}, true},
    {L(12, 1), 7, 5, {}, true},
    {L(12, 2, true), 7, 5, {}, true},
    {L(12, 1, true, 0, 50, 0, true), 7, 5, {}, true},
    {L(12, 0), 7, 5, {}, true},
    {L(12, 0, true, 0, 51), 9, 5, {}, true},
    {L(10, 1, false, 1), 13, 9, {}, true},  // right to left
    {L(10, 1, true, 2), 13, 9, {}, true},   // bottom to top, odd height: the top row dropped
    {L(16, 0, true, 3), 8, 8, {}, true},
    {L(8, 0, false, 2, 51, 0, true), 6, 7, {}, true},
    {L(10, 1, false, 0, 50, 12), 13, 9, {}, true},  // end-of-line padding
    {L(16, 0, true, 3, 50, 6), 7, 5, {}, true},
    {L(10, 1), 13, 9, {{812, 0xFFFFFFFF, 4}}, true},  // padding undefined: none
    {L(10, 1), 13, 9, {{4, 0, 4}}, true},             // the element's offset, not byte 4's
    {L(10, 1), 13, 9, {{808, 0xFFFFFFFF, 4}}, true},  // undefined: byte 4's
    {L(16, 0), 7, 5, {{800, 0xFF, 1}, {804, 0xFFFF, 2}}, true},  // unset: today's reading
    {L(16, 0, true), 7, 5, {{800, 0, 1}, {803, 0, 1}}, true},
    {L(10, 1), 8, 8, {{800, 100, 1}}, false},  // YCbCr 4:2:2
    {L(10, 1), 8, 8, {{800, 6, 1}}, false},    // luma only
    {L(10, 1), 8, 8, {{803, 1, 1}}, false},
    {L(10, 1), 8, 8, {{803, 32, 1}}, false},
    {L(16, 1), 8, 8, {{804, 3, 2}}, false},
    {L(10, 1), 8, 8, {{806, 1, 2}}, false},  // run-length encoded
    {L(16, 1), 8, 8, {{780, 1, 4}}, false},  // signed samples
    {L(10, 1), 8, 8, {{768, 4, 2}}, false},  // transposed
    {L(10, 1, true), 8, 8, {{768, 7, 2}}, false},
    {L(10, 1),
     8,
     8,
     {{770, 2, 2}, {852, 100, 1}, {855, 10, 1}, {856, 1, 2}},
     false},                                 // a second element in YCbCr
    {L(10, 1), 8, 8, {{770, 9, 2}}, false},  // more elements than DPX has
};

// A picture of noise codes; 8-bit samples hold the top 8 bits of each.
std::vector<Rgb10> Picture(const LayoutCase& c) {
  const Bytes noise = Noise(size_t(c.w * c.h) * 6, uint32_t(c.w * 100 + c.h));
  std::vector<Rgb10> p(size_t(c.w * c.h));
  const uint16_t keep = c.layout.Bits == 8 ? 0x3FC : 0x3FF;
  for (size_t i = 0; i < p.size(); ++i) {
    const auto code = [&](size_t k) {
      return uint16_t((noise[6 * i + k] << 8 | noise[6 * i + k + 1]) & keep);
    };
    p[i] = {code(0), code(2), code(4)};
  }
  return p;
}

Bytes Shown(const std::string& path, const LayoutCase& c, int32_t s) {
  Prepare(c.w, c.h, s, s != 0, s != 0);
  EXPECT_EQ(Open(path), c.read ? "" : kInvalidImageMessage);
  return Bytes(Viewer.FramePixels, Viewer.FramePixels + BitmapBytes());
}

TEST(DpxLayouts, ShowTheirPictureAsTodaysLayoutDoesOrAreRefused) {
  ResetViewerState();
  BuildColourTables();
  int row = 0;
  for (const LayoutCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << "row " << row++);
    const std::vector<Rgb10> picture = Picture(c);
    const auto rows = [&](int32_t y, Rgb10* out) {
      std::copy_n(&picture[size_t(y * c.w)], c.w, out);
    };
    Bytes file = RowFileBytes(DpxLayoutFile(c.layout, c.w, c.h, rows));
    for (const Patch& p : c.patches) {
      for (uint32_t k = 0; k < p.bytes; ++k) {
        const uint32_t shift = 8 * (c.layout.LittleEndian ? k : p.bytes - 1 - k);
        file[p.at + k] = uint8_t(p.value >> shift);
      }
    }
    Bytes today = DpxMinimalHeader(uint32_t(c.w), uint32_t(c.h));
    today.resize(today.size() + picture.size() * 6);
    PutDpxRow(picture.data(), c.w * c.h, &today[kDpxImageOffset]);
    TestDir dir;
    const std::string path = dir.Write("a_0001.dpx", file), reference = dir.Write("b.dpx", today);
    for (int32_t s : {0, 2}) {
      if (!c.read) {
        Shown(path, c, s);
        EXPECT_TRUE(BitmapIsAll(kMark));
        continue;
      }
      const Bytes expected = Shown(reference, c, s);
      EXPECT_EQ(Shown(path, c, s), expected) << "at 1/" << (1 << s);
    }
  }
  ResetViewerState();
}

}  // namespace
