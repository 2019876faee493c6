// From an opened path to a listed sequence and a shown frame, on folders built per test.
#include "sequence/sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "platform/code_page.h"
#include "platform/dir_search.h"
#include "tests/unit/test_files.h"

namespace {

// Another program may change the folder between the two passes of a scan: the close that ends
// the first pass runs the change.
std::function<void()> BetweenPasses;
void RunBetweenPasses() {
  std::function<void()> change = std::move(BetweenPasses);
  BetweenPasses = nullptr;
  if (change) change();
}

// The FrameList in order, one space between names, the opened frame marked with a "*".
std::string Listed() {
  std::string all;
  for (int32_t k = 0; k < (Viewer.Kind == Mov ? 1 : Viewer.FrameCount); ++k) {
    all += (k > 0 ? " " : "") + std::string(k == Viewer.CurrentFrame ? "*" : "");
    all += FrameListEntry(k);
  }
  return all;
}

// "a" writes the empty file a, "a/" makes the folder a, "-a" removes it, "-" removes the whole
// folder.
void Change(const TestDir& dir, const std::string& names) {
  std::istringstream in(names);
  for (std::string name; in >> name;) {
    if (name[0] == '-') std::filesystem::remove_all(dir / name.substr(1));
    if (name.back() == '/')
      std::filesystem::create_directory(dir / name.substr(0, name.size() - 1));
    if (name[0] != '-' && name.back() != '/') dir.Write(name, {});
  }
}

// A path as the command line, a drop or the open dialog gives it, taken into the path buffer
// (set to "before" first), then its kind, search pattern and name part. The pattern is built
// before the folder is searched, so folders that do not exist will do.
TEST(Sequence, PathGivesKindPatternAndNamePart) {
  const std::string fits(259, 'p');
  const struct {
    std::string Path, Pattern, NamePart;
    int32_t Kind;
  } cases[] = {
      {"C:\\s\\shot_0012.dpx", "C:\\s\\shot_*.dpx", "shot_0012.dpx", Dpx},
      {"0012.DPX", "*.DPX", "0012.DPX", Dpx},  // digits only, no folder; any case
      {"C:\\s\\take01.0012.dpx", "C:\\s\\take01.*.dpx", "take01.0012.dpx", Dpx},
      {"C:\\s\\a1.b22.c333.dpx", "C:\\s\\a1.b22.c*.dpx", "a1.b22.c333.dpx", Dpx},  // the last run
      {"C:\\7\\9.dpx", "C:\\7\\*.dpx", "9.dpx", Dpx},  // a run stops at the separator
      {"C:/s/shot_0012.dpx", "C:/s/shot_*.dpx", "shot_0012.dpx", Dpx},  // forward slashes
      {"shot_0012.dpx", "shot_*.dpx", "shot_0012.dpx", Dpx},  // no folder: all of it a name
      {"C:\\r\\clip.0005.4K.r", "C:\\r\\clip.*.4K.r", "clip.0005.4K.r", RgbPlanes},
      {"C:\\r\\clip0005_8K.G", "C:\\r\\clip0005_8K.G", "clip0005_8K.G", RgbPlanes},
      {"C:\\m\\scene01.Mov", "C:\\m\\scene01.Mov", "scene01.Mov", Mov},  // movies keep digits
      {"C:\\m\\scene.mp4", "C:\\m\\scene.mp4", "scene.mp4", Unknown},
      {"C:\\s\\x.rgb", "C:\\s\\x.rgb", "x.rgb", Unknown},  // one plane letter, not three
      {"C:\\s\\x.movx", "C:\\s\\x.movx", "x.movx", Unknown},
      {"C:\\s\\1234", "C:\\s\\1234", "1234", Unknown},                  // no dot at all
      {"\"C:\\a b\\x_1.dpx\" /f", "C:\\a b\\x_*.dpx", "x_1.dpx", Dpx},  // a closing quote ends it
      {"C:\\s\\x_1.dpx\"", "C:\\s\\x_*.dpx", "x_1.dpx", Dpx},           // a quote alone too
      {"\"C:\\s\\x_1.dpx", "C:\\s\\x_*.dpx", "x_1.dpx", Dpx},           // a quote never closed
      {"", "", "", Unknown},
      {"\"" + fits + "\"", fits, fits, Unknown},  // the longest path the buffer holds
      {fits + "p", "before", "before", Unknown},  // refused: cut short, it could open another file
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(TakeOpenPath("before"));
    EXPECT_EQ(TakeOpenPath(c.Path.c_str()), c.Pattern != "before") << c.Path;
    EXPECT_EQ(ScanSequence(), -1) << c.Path;  // nothing of the kind exists here
    EXPECT_EQ(Viewer.Kind, c.Kind) << c.Path;
    EXPECT_EQ(Viewer.Scratch, c.Pattern);
    EXPECT_EQ(Viewer.Path + Viewer.NamePart, c.NamePart);
  }
}

// Code page 932, as Windows keeps it where it ignores the UTF-8 setting: a byte 0x81-0x9F or
// 0xE0-0xFC and the byte after it are one character, whatever that byte looks like.
bool LeadByteOf932(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Names split between characters only: the second byte of ソ (83 5C) is no separator, and ア
// (83 41) and ャ (83 61) are two characters, not one in two letter cases.
TEST(Sequence, DoubleByteNamesSplitBetweenCharactersOnly) {
  PlatformSetLeadByteRule(LeadByteOf932);
  const struct {
    std::string Path, Pattern, NamePart;
    int32_t Kind;
  } cases[] = {
      {"C:\\s\\\x83\x5C_0012.dpx", "C:\\s\\\x83\x5C_*.dpx", "\x83\x5C_0012.dpx", Dpx},
      {"C:\\\x83\x5C\\\x83\x5C.dpx", "C:\\\x83\x5C\\\x83\x5C.dpx", "\x83\x5C.dpx", Dpx},
      {"C:\\s\\x_1.dpx\x83", "C:\\s\\x_*.dpx\x83", "x_1.dpx\x83", Unknown},  // a lead byte alone
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(TakeOpenPath(c.Path.c_str()));
    EXPECT_EQ(ScanSequence(), -1) << c.Path;
    EXPECT_EQ(Viewer.Kind, c.Kind) << c.Path;
    EXPECT_EQ(Viewer.Scratch, c.Pattern);
    EXPECT_EQ(Viewer.Path + Viewer.NamePart, c.NamePart);
    EXPECT_EQ(std::string(Viewer.Reason, size_t(Viewer.ReasonFact)), c.NamePart + ": ");
  }
#ifndef _WIN32  // Windows would store these bytes through its own code page, not 932
  const TestDir dir;
  Change(dir, "\x83\x41_1.dpx \x83\x41_2.dpx \x83\x61_3.dpx");
  ASSERT_TRUE(TakeOpenPath((dir / "\x83\x41_1.dpx").c_str()));
  EXPECT_EQ(ScanSequence(), 0);
  EXPECT_EQ(Listed(), "*\x83\x41_1.dpx \x83\x41_2.dpx");
#endif
  PlatformSetLeadByteRule(nullptr);
}

// A folder built in this order (enumeration order is the file system's business), the name
// opened, the change between the two passes of the scan (posix only); the result and the list:
// in frame order, the opened frame marked, a movie only the one read, "?" for any name kept.
TEST(Sequence, FolderGivesTheListAndTheOpenedFrame) {
  const struct {
    const char *Folder, *Opened, *Change;
    int32_t Result;
    const char* Listed;
  } cases[] = {
      {"a1.2.dpx a1.1.dpx a2.1.dpx a1.1.mov", "a1.2.dpx", "", 0, "a1.1.dpx *a1.2.dpx"},
      {"c.1.4K.r c.1.4K.g c.2.4K.r", "c.2.4K.r", "", 0, "c.1.4K.r *c.2.4K.r"},  // one plane each
      {"s_1.dpx s_2.dpx", "S_2.DPX", "", 0, "*s_1.dpx s_2.dpx"},  // found, but not by its name
      {"scene01.mov scene02.mov", "scene02.mov", "", 0, "*scene02.mov"},  // a movie alone
      {"scene.mov SCENE.MOV", "scene.mov", "", 0, "*scene.mov"},  // not another spelling of it
      {"s_01.dpx s_02.dpx", "s_02.dpx", "s_03.dpx s_04.dpx", 0, "??"},      // no more than counted
      {"s_1.dpx s_2.dpx", "s_12.dpx", "s_12.dpx -s_1.dpx", 0, "*s_2.dpx"},  // none longer
      {"s_1.dpx", "s_12.dpx", "s_12.dpx -s_1.dpx", -1, ""},                 // none left
      {"s_01.dpx s_02.dpx s_03.dpx", "s_02.dpx", "-s_01.dpx -s_03.dpx", 0, "*s_02.dpx"},
      {"s_01.dpx s_02.dpx", "s_02.dpx", "-s_01.dpx s_00.dpx", 0, "s_00.dpx *s_02.dpx"},
      {"s_01.dpx", "s_01.dpx", "-s_01.dpx", -1, ""},  // the file gone
      {"s_01.dpx", "s_01.dpx", "-", -1, ""},          // the folder gone
      {"s_10001.dpx s_9999.dpx s_10000.dpx s_9998.dpx", "s_9998.dpx", "", 0,
       "*s_9998.dpx s_9999.dpx s_10000.dpx s_10001.dpx"},  // past 9999
      {"u_100.dpx u_2.dpx u_10.dpx u_1.dpx", "u_100.dpx", "", 0,
       "u_1.dpx u_2.dpx u_10.dpx *u_100.dpx"},  // unpadded, found from any frame
      {"g_5.dpx g_0003.dpx g_1.dpx e_1.dpx e_001.dpx e_01.dpx", "e_01.dpx", "", 0,
       "e_001.dpx *e_01.dpx e_1.dpx"},  // equal values by their bytes
      {"g_5.dpx g_0003.dpx g_1.dpx", "g_5.dpx", "", 0, "g_1.dpx g_0003.dpx *g_5.dpx"},  // gaps
      {"i_2024.05.01_0002.dpx i_2024.06.01_0001.dpx i_2024.05.01_0001.dpx", "i_2024.05.01_0002.dpx",
       "", 0, "i_2024.05.01_0001.dpx *i_2024.05.01_0002.dpx"},  // dates
      {"c_v1.2.0001.dpx c_v2.2.0001.dpx c_v1.2.0002.dpx c_v1.12.0001.dpx", "c_v1.2.0001.dpx", "", 0,
       "*c_v1.2.0001.dpx c_v1.2.0002.dpx"},  // versions are part of the name
      {"s_1.dpx s_x1.dpx s_1.dpx.bak s_.dpx s_1a.dpx s_1.dpy xs_1.dpx", "s_1.dpx", "", 0,
       "*s_1.dpx"},  // what "*" matches beside the frames
      {"p.2.4K.r p.10.4K.r p.1.8K.r p.1.4K.g", "p.10.4K.r", "", 0, "p.2.4K.r *p.10.4K.r"},
      {"clip0005_8K.G clip0006_8K.G", "clip0005_8K.G", "", 0, "*clip0005_8K.G"},  // no number
      // Folders named like frames, as copy and render tools leave them, are no frames: inside
      // the sequence, at either end of it, or the one opened.
      {"s_1.dpx s_2.dpx/ s_3.dpx", "s_3.dpx", "", 0, "s_1.dpx *s_3.dpx"},
      {"s_0.dpx/ s_1.dpx s_2.dpx s_3.dpx/", "s_1.dpx", "", 0, "*s_1.dpx s_2.dpx"},
      {"s_1.dpx/ s_2.dpx", "s_1.dpx", "", 0, "*s_2.dpx"},
      {"s_1.dpx/", "s_1.dpx", "", -1, ""},
      {"c.1.4K.r c.2.4K.r/ c.3.4K.r", "c.3.4K.r", "", 0, "c.1.4K.r *c.3.4K.r"},
  };
  for (const auto& c : cases) {
    const TestDir dir;
    BetweenPasses = [&] { Change(dir, c.Change); };
    PlatformSearchClosedHook = RunBetweenPasses;
    Change(dir, c.Folder);
    ASSERT_TRUE(TakeOpenPath((dir / c.Opened).c_str()));
    EXPECT_EQ(ScanSequence(), c.Result) << c.Opened << " " << c.Change;
    const std::string listed = *c.Listed == '?' ? std::string(Viewer.FrameCount, '?') : Listed();
    EXPECT_EQ(listed, c.Listed) << c.Opened << " " << c.Change;
  }
  PlatformSearchClosedHook = nullptr;
}

// Frame order against a naive model: the frame number widened to 30 digits, then the bytes.
// Then LoadFrame puts a listed name after the folder, or refuses, the path untouched, a name too
// long for the path buffer or an index outside the list (after a failed open a tick loads
// nothing).
TEST(Sequence, FramesComeInTheOrderOfTheNaiveModelAndLoadOnlyIfTheyFit) {
  const TestDir dir;
  const size_t fits = 259 - (dir / "").size();  // the longest name the buffer holds here
  const std::string fit = "f_" + std::string(fits - 7, '0') + "7.dpx";
  std::vector<std::string> names = {fit, "f_" + std::string(fits - 6, '0') + "8.dpx"};
  std::istringstream in("9 10 100 0999 1000 01 1 001 2 0000000000000000000000000001 3");
  for (std::string number; in >> number;) names.push_back("f_" + number + ".dpx");
  for (const std::string& name : names) dir.Write(name, {});
  const auto widened = [](const std::string& name) {
    const std::string number = name.substr(2, name.size() - 6);
    const size_t zeros = number.find_first_not_of('0');
    return std::make_pair(std::string(30 - (number.size() - zeros), '0') + number.substr(zeros),
                          name);
  };
  std::sort(names.begin(), names.end(), [&](auto& a, auto& b) { return widened(a) < widened(b); });
  std::string model;
  for (const std::string& name : names) model += (name == "f_3.dpx" ? " *" : " ") + name;
  ASSERT_TRUE(TakeOpenPath((dir / "f_3.dpx").c_str()));
  ASSERT_EQ(ScanSequence(), 0);
  EXPECT_EQ(" " + Listed(), model);
  const int32_t at = int32_t(std::find(names.begin(), names.end(), fit) - names.begin());
  const std::string count = "; its frame count is " + std::to_string(names.size());
  const std::pair<int32_t, std::string> loads[] = {
      {at, "0 bytes, too short for a DPX header"},  // an empty file
      {at + 1, "the folder and the name are longer than 259 bytes together"},
      {-1, "no frame -1 in the sequence" + count},
      {int32_t(names.size()),
       "no frame " + std::to_string(names.size()) + " in the sequence" + count}};
  for (const auto& [index, why] : loads) {
    const std::string before = Viewer.Path;
    Viewer.CurrentFrame = index;
    EXPECT_EQ(LoadFrame(), -1);
    EXPECT_EQ(Viewer.Path, index == at ? dir / fit : before) << index;
    EXPECT_EQ(Viewer.Reason + Viewer.ReasonFact, why);
  }
}

// Opening as the shell does, from a bitmap of 8 x 4 pixels shifted right by `shift`, a folder of
// f_1.dpx (a white frame of w x h, empty for w -1) and f_1.mp4: the error box, the frame count,
// the bitmap, whether it was rebuilt and shows white (after a failure it is black). A frame of
// another size is measured first, the bitmap rebuilt if the shifted size changes, and the frame
// loaded again.
TEST(Sequence, OpenPathShowsTheFrameOrSaysWhyNot) {
  ResetViewerState();
  BuildColourTables();
  const struct {
    int32_t Width, Height, Shift;
    std::string Opened;
    std::string Outcome;
  } cases[] = {
      {8, 4, 0, "f_1.dpx", "1 8x4 shown"},            // the size shown before
      {16, 2, 0, "f_1.dpx", "1 16x2 rebuilt shown"},  // another size
      {9, 5, 1, "f_1.dpx", "1 4x2 shown"},            // another size, the same bitmap
      {9, 4, 1, "f_1.dpx", "1 4x2 shown"},            // only the width another
      {8, 5, 1, "f_1.dpx", "1 4x2 shown"},            // only the height another
      {2, 2, 2, "f_1.dpx", "1 0x0 rebuilt"},          // reduced to nothing
      // Refused: the message, then the reason on a line of its own.
      {7681, 1, 0, "f_1.dpx",
       "Error: Invalid image file!\nf_1.dpx: the header says 7681 x 1, larger than 7680 x 4320\n0 "
       "8x4"},
      {-1, 0, 0, "f_1.dpx",
       "Error: Invalid image file!\nf_1.dpx: 0 bytes, too short for a DPX header\n0 8x4"},
      {8, 4, 0, "f_1.mp4",
       "Error: Invalid image file!\nf_1.mp4: not a kind of file the viewer reads; it reads .dpx, "
       ".mov and .r .g .b planes\n0 8x4"},
      {8, 4, 0, "g_1.dpx", "Error: Can't open file!\ng_1.dpx: no such file\n0 8x4"},
      {8, 4, 0, std::string(260, 'f'),
       "Error: Can't open file!\n" + std::string(260, 'f') +
           ": the path is longer than 259 bytes\n0 8x4"},
  };
  for (const auto& c : cases) {
    const TestDir dir;
    // "SDPX", the image after the size
    Bytes frame(c.Width < 0 ? 0 : 780 + 6 * c.Width * c.Height, 0xFF);
    const uint32_t header[][2] = {
        {0, 0x53445058}, {4, 780}, {772, uint32_t(c.Width)}, {776, uint32_t(c.Height)}};
    for (int i = 0; i < 4 && c.Width >= 0; ++i) PutBigEndian32(frame, header[i][0], header[i][1]);
    dir.Write("f_1.dpx", frame);
    dir.Write("f_1.mp4", {});
    Viewer.ScaleShift = c.Shift;
    Viewer.SourceWidth = 8;
    Viewer.SourceHeight = 4;
    ResetFrameBuffer();
    // The picture before: white. A failed open must not leave it on screen.
    std::memset(Viewer.FramePixels, 0xFF, size_t(8 >> c.Shift) * size_t(4 >> c.Shift) * 4);
    Viewer.PlaybackStep = 3;
    testing::internal::CaptureStderr();
    const bool rebuilt = OpenPath((dir / c.Opened).c_str());
    const int32_t w = Viewer.FrameInfo.bmiHeader.biWidth, h = Viewer.FrameInfo.bmiHeader.biHeight;
    const bool shown = w > 0 && h > 0 && BitmapPixel(w - 1, h - 1)[2] == 255;
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    EXPECT_EQ(testing::internal::GetCapturedStderr() + std::to_string(Viewer.FrameCount) + " " +
                  size + (rebuilt ? " rebuilt" : "") + (shown ? " shown" : ""),
              c.Outcome)
        << c.Opened << " " << c.Width;
    EXPECT_EQ(Viewer.PlaybackStep, 0);
  }
}

}  // namespace
