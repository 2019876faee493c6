// DPX layouts as writers lay them out, each against the same picture written as 16-bit
// big-endian RGB: the bitmap must be the same at 1 and, with both colour options, at 1/4. The
// layouts not read must say so and show black. Then each layout's SSE2 kernel against its plain
// one over every code.

#include <array>

#include "formats/row_walk.h"
#include "tests/unit/test_files.h"

namespace {

using Patch = std::array<uint32_t, 3>;  // at, value, bytes: a header field, in the file's order

struct LayoutCase {
  DpxFileLayout Layout;  // descriptor, bits, packing, little-endian, orientation, padding, ffmpeg
  int32_t Width, Height;
  std::vector<Patch> Patches;
  bool Read;
};

const LayoutCase kCases[] = {
    {{50, 16, 0}, 7, 5, {}, true},  // oiiotool and GraphicsMagick: odd rows end mid-word
    {{50, 16, 0, false, 0, 0, true}, 7, 5, {}, true},  // ffmpeg: padded to 32 bits, says none
    {{51, 16, 0, true}, 9, 6, {}, true},               // RGBA: alpha passed over
    {{50, 8, 0}, 7, 5, {}, true},
    {{50, 8, 1, true, 0, 0, true}, 5, 9, {}, true},
    {{50, 10, 1}, 13, 9, {}, true},  // the most common DPX there is
    {{50, 10, 1, true}, 13, 9, {}, true},
    {{50, 10, 2}, 13, 9, {}, true},
    {{51, 10, 2, true}, 7, 5, {}, true},  // a word holds samples of two pixels
    {{51, 10, 1}, 7, 5, {}, true},
    {{50, 10, 0}, 13, 9, {}, true},  // packed: samples run on into the next word
    {{51, 10, 0, true}, 7, 5, {}, true},
    {{50, 12, 1}, 7, 5, {}, true},
    {{50, 12, 2, true}, 7, 5, {}, true},
    {{50, 12, 1, true, 0, 0, true}, 7, 5, {}, true},
    {{50, 12, 0}, 7, 5, {}, true},
    {{51, 12, 0, true}, 9, 5, {}, true},
    {{50, 10, 1, false, 1}, 13, 9, {}, true},  // right to left
    {{50, 10, 1, true, 2}, 13, 9, {}, true},   // bottom to top, odd height: the top row dropped
    {{50, 16, 0, true, 3}, 8, 8, {}, true},
    {{51, 8, 0, false, 2, 0, true}, 6, 7, {}, true},
    {{50, 10, 1, false, 0, 12}, 13, 9, {}, true},  // end-of-line padding
    {{50, 16, 0, true, 3, 6}, 7, 5, {}, true},
    {{50, 10, 1}, 13, 9, {{812, 0xFFFFFFFF, 4}}, true},  // padding undefined: none
    {{50, 10, 1}, 13, 9, {{4, 0, 4}}, true},             // the element's offset, not byte 4's
    {{50, 10, 1}, 13, 9, {{808, 0xFFFFFFFF, 4}}, true},  // undefined: byte 4's
    {{50, 16, 0}, 7, 5, {{800, 0xFF, 1}, {804, 0xFFFF, 2}}, true},  // unset: 16-bit RGB
    {{50, 16, 0, true}, 7, 5, {{800, 0, 1}, {803, 0, 1}}, true},
    {{50, 16, 0, true}, 7, 5, {{768, 0xFFFF, 2}, {804, 0xFFFF, 2}}, true},  // undefined, both bytes
    // Eight elements, the most DPX has, alike but for where their data lies.
    {{50, 16, 0}, 7, 5, {{770, 8, 2}, {800, 0, 1}, {803, 0, 1}, {880, 0x12345678, 4}}, true},
    // A second element of the same layout is passed over; one that differs in its encoding alone
    // (run-length) is not.
    {{50, 10, 1}, 13, 9, {{770, 2, 2}, {872, 50, 1}, {875, 10, 1}, {876, 1, 2}}, true},
    {{50, 10, 1}, 8, 8, {{770, 2, 2}, {872, 50, 1}, {875, 10, 1}, {876, 1, 2}, {878, 1, 2}}, false},
    {{50, 10, 1}, 8, 8, {{800, 100, 1}}, false},  // YCbCr 4:2:2
    {{50, 10, 1}, 8, 8, {{800, 6, 1}}, false},    // luma only
    {{50, 10, 1}, 8, 8, {{803, 32, 1}}, false},   // 1 or 32 bits
    {{50, 16, 1}, 8, 8, {{804, 3, 2}}, false},
    {{50, 10, 1}, 8, 8, {{806, 1, 2}}, false},  // run-length encoded
    {{50, 16, 1}, 8, 8, {{780, 1, 4}}, false},  // signed samples
    {{50, 10, 1}, 8, 8, {{768, 4, 2}}, false},  // transposed
    {{50, 10, 1, true}, 8, 8, {{768, 7, 2}}, false},
    // A second element in YCbCr, and more elements than DPX has.
    {{50, 10, 1}, 8, 8, {{770, 2, 2}, {852, 100, 1}, {855, 10, 1}, {856, 1, 2}}, false},
    {{50, 10, 1}, 8, 8, {{770, 9, 2}}, false},
};

// A picture of noise codes; 8-bit samples hold the top 8 bits of each.
std::vector<Rgb10> Picture(const LayoutCase& c) {
  const Bytes noise = Noise(size_t(c.Width * c.Height) * 3, uint32_t(c.Width * 100 + c.Height));
  const uint16_t keep = c.Layout.Bits == 8 ? 0x3FC : 0x3FF;
  std::vector<Rgb10> p(size_t(c.Width * c.Height));
  for (size_t i = 0; i < p.size(); ++i) {
    const auto code = [&](size_t k) { return uint16_t((noise[3 * i + k] * 4 + i % 4) & keep); };
    p[i] = {code(0), code(1), code(2)};
  }
  return p;
}

// The bitmap after opening the file at 1 / 2^s, both colour options on below 1.
Bytes Shown(const std::string& path, const LayoutCase& c, int32_t s, bool read) {
  Prepare(c.Width, c.Height, s, s != 0, s != 0);
  EXPECT_EQ(Open(path), read ? "" : kInvalidImageMessage);
  return Bytes(Viewer.FramePixels, Viewer.FramePixels + BitmapBytes());
}

TEST(DpxLayouts, ShowTheirPictureAs16BitRgbDoesOrAreRefused) {
  ResetViewerState();
  BuildColourTables();
  for (const LayoutCase& c : kCases) {
    const int32_t w = c.Width, h = c.Height;
    const DpxFileLayout& l = c.Layout;
    SCOPED_TRACE(testing::Message()
                 << "row " << &c - kCases << ": " << int(l.Descriptor) << ", " << int(l.Bits)
                 << " bits, packing " << int(l.Packing) << (l.LittleEndian ? ", little-endian" : "")
                 << ", orientation " << l.Orientation << ", " << w << "x" << h << ", "
                 << c.Patches.size() << " fields patched");
    const std::vector<Rgb10> picture = Picture(c);
    const auto rows = [&](int32_t y, Rgb10* row) { std::copy_n(&picture[y * w], w, row); };
    Bytes file = RowFileBytes(DpxLayoutFile(c.Layout, w, h, rows));
    for (const auto& [at, value, bytes] : c.Patches) {
      for (uint32_t k = 0; k < bytes; ++k) {
        file[at + k] = uint8_t(value >> 8 * (c.Layout.LittleEndian ? k : bytes - 1 - k));
      }
    }
    Bytes rgb16 = DpxMinimalHeader(uint32_t(w), uint32_t(h));
    rgb16.resize(rgb16.size() + picture.size() * 6);
    PutDpxRow(picture.data(), w * h, &rgb16[kDpxImageOffset]);
    TestDir dir;
    const std::string path = dir.Write("a_0001.dpx", file), reference = dir.Write("b.dpx", rgb16);
    for (int32_t s : {0, 2}) {  // a layout refused shows black, not the picture before it
      const Bytes expected =
          c.Read ? Shown(reference, c, s, true) : Bytes(size_t(w >> s) * size_t(h >> s) * 4, 0);
      EXPECT_EQ(Shown(path, c, s, c.Read), expected) << "at 1/" << (1 << s);
    }
  }
  ResetViewerState();
}

// Rows of 1029 pixels (a tail of five) holding every code in every channel, each layout read
// through the plain kernel and then the SSE2 one.
TEST(DpxKernels, Sse2GivesThePlainKernelsBytesForEveryCode) {
  ResetViewerState();
  BuildColourTables();
  const bool detected = UseSse2Kernels;
  constexpr int32_t w = 1029, h = 2;
  std::vector<Rgb10> picture(w * h);
  for (uint16_t p = 0; p < w * h; ++p)
    picture[p] = {uint16_t(p & 1023), uint16_t((p * 5 + 3) & 1023), uint16_t((p * 7 + 9) & 1023)};
  for (const LayoutCase& c : kCases) {
    if (!c.Read || !c.Patches.empty() || c.Layout.Orientation % 2 != 0) continue;
    SCOPED_TRACE(testing::Message() << "row " << &c - kCases);
    const auto rows = [&](int32_t y, Rgb10* row) { std::copy_n(&picture[y * w], w, row); };
    TestDir dir;
    const std::string path = dir.Write("a.dpx", RowFileBytes(DpxLayoutFile(c.Layout, w, h, rows)));
    Bytes shown[2];
    for (const bool sse2 : {false, true}) {
      UseSse2Kernels = sse2;
      Prepare(w, h, 0);
      ASSERT_EQ(Open(path), "");
      shown[sse2] = Bytes(Viewer.FramePixels, Viewer.FramePixels + BitmapBytes());
    }
    EXPECT_EQ(shown[0], shown[1]);
  }
  UseSse2Kernels = detected;
  ResetViewerState();
}

}  // namespace
