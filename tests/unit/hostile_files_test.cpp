// Hostile frame files: whatever a camera, a render farm, another tool or a stranger leaves in a
// folder, opening it ends in a defined outcome (the picture, partly or wholly black, or a message
// and a black picture, never the previous one) and never in a crash, a hang or a write outside a
// buffer. One row per file; big planes are written sparse. Hostile movies are rows of
// movie_test.cpp.

#include "tests/unit/test_files.h"

namespace {

enum Picture { kUnchanged, kShown, kDecoded, kPartly, kBlack, kEmpty, kTorn };

constexpr uint32_t kGreyCode = 512;  // what every sample of a well-formed file holds
constexpr uint64_t kFolder = UINT64_MAX;
const char* const kOk = "";
const char* const kInvalid = kInvalidImageMessage;
const char* const kCantOpen = kCantOpenMessage;

// What the user sees: the previous picture (every byte the mark), the grey of the file, black,
// the file's top rows above black (a file cut short), or any other decode of its bytes.
Picture Classify() {
  if (BitmapBytes() == 0) return kEmpty;
  const int32_t w = Viewer.FrameInfo.bmiHeader.biWidth, h = Viewer.FrameInfo.bmiHeader.biHeight;
  const uint8_t grey = uint8_t(NarrowToFullTable[kGreyCode]);
  int32_t marked = 0, black = 0, greys = 0, blackOnTop = 0, blackBelow = 0;
  for (int32_t i = 0; i < w * h; ++i) {
    const uint8_t* p = BitmapPixel(i % w, i / w);
    const bool isBlack = (p[0] | p[1] | p[2]) == 0;
    marked += p[0] == kMark && p[1] == kMark && p[2] == kMark && p[3] == kMark;
    black += isBlack;
    greys += p[0] == grey && p[1] == grey && p[2] == grey;
    blackOnTop += i < w && isBlack;
    blackBelow += i / w == h - 1 && isBlack;
  }
  if (marked != 0) return marked == w * h ? kUnchanged : kTorn;
  if (black == w * h || greys == w * h) return black == w * h ? kBlack : kShown;
  return blackOnTop == 0 && blackBelow == w ? kPartly : kDecoded;
}

// A well-formed DPX file: image data at 2048, every sample grey, junk in the six bits below it.
Bytes GreyDpx(uint32_t w, uint32_t h) {
  Bytes b = DpxMinimalHeader(w, h, 2048);
  b.resize(2048 + size_t(w) * h * 6);
  for (size_t i = 2048; i < b.size(); i += 2) PutBigEndian16(b, i, kGreyCode << 6 | 0x2A);
  return b;
}
struct File {
  std::string Name;
  Bytes Data;
  uint64_t Size;  // a hole after the data up to this size; kFolder: a folder of that name
};

// The planes of a frame whose size is in the name: 64 grey rows (junk in the four bits above
// each code), then a hole up to `size` bytes; none when `size` is kAbsent. The g plane is listed
// first: it is the one opened.
constexpr uint64_t kAbsent = UINT64_MAX - 1;
std::vector<File> Planes(uint64_t r, uint64_t g, uint64_t b, const char* size = "4K") {
  Bytes grey(size_t(64) * (size[0] == '8' ? 7680 : 3840) * 2);
  for (size_t i = 0; i < grey.size(); i += 2) PutBigEndian16(grey, i, 0xF000 | kGreyCode << 2);
  const std::pair<char, uint64_t> planes[] = {{'g', g}, {'r', r}, {'b', b}};
  std::vector<File> files;
  for (const auto& [letter, bytes] : planes) {
    if (bytes == kAbsent) continue;
    const size_t held = size_t(std::min<uint64_t>(bytes, grey.size()));
    files.push_back({std::string("clip_0001.") + size + "." + letter,
                     Bytes(grey.begin(), grey.begin() + ptrdiff_t(held)), bytes});
  }
  return files;
}

struct HostileCase {
  std::vector<File> Files;                   // the first is the one opened
  int32_t WidthBefore, HeightBefore, Shift;  // the picture shown before: its source size and shift
  const char* Message;
  Picture Shown;
  int32_t Width, Height;  // the source size after
};

std::vector<HostileCase> HostileCases() {
  const Bytes good = GreyDpx(64, 8);
  const auto Dpx = [](const Bytes& b) { return std::vector<File>{{"shot_0001.dpx", b, b.size()}}; };
  const auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + ptrdiff_t(n)); };
  const auto with32 = [&](size_t at, uint32_t v) {
    Bytes b = good;
    return PutBigEndian32(b, at, v), b;
  };
  const uint64_t plane = 3840 * 2160 * 2, plane8k = 4 * plane, greyRows = 64 * 3840 * 2;
  return {
      {Dpx(good), 64, 8, 0, kOk, kShown, 64, 8},                        // well-formed
      {Dpx({}), 64, 8, 0, kInvalid, kBlack, 64, 8},                     // empty
      {Dpx(cut(3)), 64, 8, 0, kInvalid, kBlack, 64, 8},                 // not even the magic
      {Dpx(cut(775)), 64, 8, 0, kInvalid, kBlack, 64, 8},               // the width cut short
      {Dpx(cut(779)), 64, 8, 0, kInvalid, kBlack, 64, 8},               // the height cut short
      {Dpx(cut(780)), 64, 8, 0, kOk, kBlack, 64, 8},                    // no image data
      {Dpx(cut(2048 + 3 * 384 + 192)), 64, 8, 0, kOk, kPartly, 64, 8},  // cut in row 3
      {Dpx(cut(2048 + 4 * 384)), 64, 8, 1, kOk, kPartly, 64, 8},        // at 1/2: a kept row lacks
      {Dpx(with32(0, 0x58504453)), 64, 8, 0, kInvalid, kBlack, 64, 8},  // "XPDS": 2^30 wide
      {Dpx(with32(4, 0)), 64, 8, 0, kOk, kDecoded, 64, 8},              // offset 0: the header
      {Dpx(with32(4, 100)), 64, 8, 0, kOk, kDecoded, 64, 8},            // inside the header
      {Dpx(with32(4, 2048 + 3072)), 64, 8, 0, kOk, kBlack, 64, 8},      // at the end of the file
      {Dpx(with32(4, 9000)), 64, 8, 0, kOk, kBlack, 64, 8},             // past the end
      {Dpx(with32(4, 0xFFFFFFFF)), 64, 8, 0, kOk, kBlack, 64, 8},       // 4 GiB past the end
      {Dpx(with32(772, 0)), 64, 8, 0, kOk, kEmpty, 0, 8},               // width 0
      {Dpx(with32(776, 0)), 64, 8, 0, kOk, kEmpty, 64, 0},              // height 0
      {Dpx(with32(772, 7681)), 64, 8, 0, kInvalid, kBlack, 64, 8},      // past 7680 x 4320
      {Dpx(with32(776, 4321)), 64, 8, 0, kInvalid, kBlack, 64, 8},
      {Dpx(with32(772, 0xFFFFFFFF)), 64, 8, 0, kInvalid, kBlack, 64, 8},  // -1 if signed
      {Dpx(with32(776, 0x80000000)), 64, 8, 0, kInvalid, kBlack, 64, 8},
      {Dpx(GreyDpx(7680, 1)), 64, 8, 0, kOk, kShown, 7680, 1},  // a row fills the read buffer
      {Dpx(GreyDpx(1, 4320)), 64, 8, 0, kOk, kShown, 1, 4320},  // the tallest
      {Dpx(GreyDpx(64, 3)), 64, 8, 0, kOk, kShown, 64, 3},      // a new height alone
      {Dpx(GreyDpx(33, 8)), 64, 8, 0, kOk, kShown, 33, 8},      // a new width alone
      {Dpx(GreyDpx(33, 17)), 64, 8, 3, kOk, kShown, 33, 17},    // odd sizes at 1/8
      {Dpx(GreyDpx(7, 5)), 64, 8, 3, kOk, kEmpty, 7, 5},        // smaller than one shown pixel
      {{{"shot_0001.dpx", {}, kFolder}}, 64, 8, 0, kCantOpen, kBlack, 64, 8},  // a folder is
                                                                               // no frame
      // Planar 4K frames at 1/8: the 64 grey rows are the top 8 of the bitmap, the hole black.
      {Planes(plane, plane, plane), 3840, 8, 3, kOk, kPartly, 3840, 2160},  // a new height alone
      {Planes(plane - 1, plane - 1, plane - 1), 3840, 2160, 3, kOk, kPartly, 3840, 2160},
      {Planes(greyRows, greyRows, greyRows), 3840, 2160, 3, kOk, kPartly, 3840, 2160},
      {Planes(plane, 0, plane), 3840, 2160, 3, kOk, kPartly, 3840, 2160},  // g empty
      {Planes(0, 0, 0), 3840, 2160, 3, kOk, kBlack, 3840, 2160},           // all three empty
      {Planes(plane, plane, kAbsent), 3840, 2160, 3, kInvalid, kBlack, 3840, 2160},
      {Planes(kAbsent, plane, plane), 3840, 2160, 3, kInvalid, kBlack, 3840, 2160},
      {Planes(kAbsent, plane, kAbsent), 3840, 2160, 3, kInvalid, kBlack, 3840, 2160},
      {Planes(plane, plane, kFolder), 3840, 2160, 3, kInvalid, kBlack, 3840, 2160},
      // A new size is taken from the name before any plane is opened: the bitmap is already
      // rebuilt (black) when the missing plane is found.
      {Planes(plane, plane, kAbsent), 3840, 8, 3, kInvalid, kBlack, 3840, 2160},
      {Planes(plane, plane, plane, "4k"), 3840, 2160, 3, kInvalid, kBlack, 3840, 2160},
      {Planes(plane8k, plane8k, plane8k, "8K"), 3840, 2160, 3, kOk, kPartly, 7680, 4320},  // three
      // rows fill the read buffer
  };
}

TEST(HostileFiles, OpenEndsInADefinedOutcome) {
  ResetViewerState();
  BuildColourTables();
  int row = 0;
  for (const HostileCase& c : HostileCases()) {
    SCOPED_TRACE(testing::Message() << "row " << row++);
    TestDir dir;
    for (const File& f : c.Files) {
      if (f.Size == kFolder) std::filesystem::create_directory(dir / f.Name);
      if (f.Size != kFolder) WriteSparse(dir / f.Name, f.Size, {{0, f.Data}});
    }
    Prepare(c.WidthBefore, c.HeightBefore, c.Shift);
    EXPECT_EQ(Open(dir / c.Files[0].Name), c.Message);
    EXPECT_EQ(Classify(), c.Shown);
    EXPECT_EQ(Viewer.SourceWidth, c.Width);
    EXPECT_EQ(Viewer.SourceHeight, c.Height);
    // Every file was closed again: Windows refuses to delete one still open.
    for (const File& f : c.Files) EXPECT_TRUE(std::filesystem::remove(dir / f.Name)) << f.Name;
  }
  ResetViewerState();
}

}  // namespace
