// The file and folder-search side of the platform layer. The same cases run natively against the
// posix search and under Wine against the system's own, so the two stay one behaviour.
#include "platform/dir_search.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "test_files.h"

namespace {

// Wine puts its configuration folder into every process's environment; Windows has no such
// variable. Only the wildcard cases where Wine is known to part from Windows look at this.
bool RunningUnderWine() {
#ifdef _WIN32
  return std::getenv("WINECONFIGDIR") != nullptr;
#else
  return false;
#endif
}

// Every name the search reports for pattern, sorted; empty when the search found nothing.
std::vector<std::string> FindAll(const std::string& pattern) {
  std::vector<std::string> names;
  char name[kPlatformNameSize];
  const PlatformSearch search = PlatformFindFirst(pattern.c_str(), name);
  if (search == nullptr) return names;
  do names.push_back(name);
  while (PlatformFindNext(search, name));
  PlatformFindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

struct WildcardCase {
  const char* pattern;
  const char* name;
  bool windows;      // listed by Windows' own search
  bool wineDiffers;  // Wine 8.0 lists it when Windows does not, or the other way round
};

const WildcardCase kWildcardCases[] = {
    {"shot_????.dpx", "shot_0001.dpx", true, false},       // one '?' per digit
    {"shot_????.dpx", "SHOT_0001.DPX", true, false},       // letter case is ignored
    {"SHOT_????.DPX", "shot_0001.dpx", true, false},       // in either direction
    {"shot_????.dpx", "shot_000a.dpx", true, false},       // '?' is any character, not a digit
    {"shot_????.dpx", "shot_12.dpx", true, true},          // '?'s before a dot may match nothing
    {"shot_????.dpx", "shot_.dpx", true, true},            // ... all of them
    {"shot_????.dpx", "shot_00001.dpx", false, false},     // but never more than one each
    {"shot_????.dpx", "shot_0001.dpxx", false, false},     // the name must end with the pattern
    {"shot_????.dpx", "shot_0001.dp", false, false},       // and not before it
    {"shot_????.dpx", "shot_1.2.dpx", false, false},       // '?' does not swallow a dot
    {"clip?0005.4K.r", "clip.0005.4K.r", false, true},     // not even a single one
    {"ab?", "abc", true, false},                           // '?' at the end: one character
    {"ab?", "ab", true, true},                             // or none at the name's end
    {"ab??", "ab", true, true},                            // trailing run matches nothing too
    {"ab?", "abcd", false, false},                         // never two
    {"a?c", "ac", false, false},                           // a '?' inside a name is one character
    {"clip.????.4K.r", "clip.0005.4K.r", true, false},     // several dots
    {"clip.????.4K.r", "CLIP.0005.4k.R", true, false},     // several dots, case ignored
    {"clip.????.4K.r", "clip.05.4K.r", true, true},        // short frame number before a middle dot
    {"clip.????.4K.r", "clip.0005.8K.r", false, false},    // the fixed text still counts
    {"take01.????.dpx", "take02.0001.dpx", false, false},  // digits outside '?' are fixed
    {"*.dpx", "shot_0001.dpx", true, false},               // '*' is any run
    {"shot_*", "shot_0001.dpx", true, false},              // dots included
    {"*", "x", true, false},                               // a lone '*' lists everything
    {"shot[1].dpx", "shot[1].dpx", true, false},           // brackets are plain characters
    {"shot[1].dpx", "shot1.dpx", false, false},            // not a character set
    {"shot_0001.dpx", "shot_0001.dpx", true, false},       // no wildcard: the name itself
};

TEST(PlatformSearchTest, WildcardsFollowWindowsRules) {
  const bool wine = RunningUnderWine();
  for (const WildcardCase& c : kWildcardCases) {
    TestDir dir;
    dir.Write(c.name, {1});
    const bool expected = c.windows != (wine && c.wineDiffers);
    const Names found = FindAll(dir / c.pattern);
    EXPECT_EQ(found == Names{c.name}, expected)
        << "pattern " << c.pattern << ", name " << c.name << (wine ? " (Wine)" : "");
    EXPECT_TRUE(found.empty() || found == Names{c.name}) << c.pattern;
  }
}

TEST(PlatformSearchTest, ListsEveryMatchOnceAndFoldersToo) {
  TestDir dir;
  for (const char* name : {"shot_0001.dpx", "shot_0002.dpx", "shot_0010.dpx", "other.dpx"}) {
    dir.Write(name, {1, 2});
  }
  std::filesystem::create_directory(dir.path() / "shot_0003.dpx");  // a folder is reported too
  EXPECT_EQ(FindAll(dir / "shot_????.dpx"),
            (Names{"shot_0001.dpx", "shot_0002.dpx", "shot_0003.dpx", "shot_0010.dpx"}));
  EXPECT_EQ(FindAll(dir / "*"), (Names{"other.dpx", "shot_0001.dpx", "shot_0002.dpx",
                                       "shot_0003.dpx", "shot_0010.dpx"}));
}

TEST(PlatformSearchTest, NothingFoundIsNull) {
  TestDir dir;
  char name[kPlatformNameSize] = "untouched";
  // An empty folder: "." and ".." match "*" and "??" but are never reported.
  EXPECT_EQ(PlatformFindFirst((dir / "*").c_str(), name), nullptr);
  EXPECT_EQ(PlatformFindFirst((dir / "??").c_str(), name), nullptr);
  dir.Write("shot_0001.dpx", {1});
  EXPECT_EQ(PlatformFindFirst((dir / "shot_????.mov").c_str(), name), nullptr);
  const std::string missing = (dir.path() / "missing" / "shot_????.dpx").string();
  EXPECT_EQ(PlatformFindFirst(missing.c_str(), name), nullptr);
  EXPECT_EQ(PlatformFindFirst("", name), nullptr);
}

TEST(PlatformSearchTest, NextAfterTheLastMatchIsFalse) {
  TestDir dir;
  dir.Write("shot_0001.dpx", {1});
  char name[kPlatformNameSize];
  const PlatformSearch search = PlatformFindFirst((dir / "shot_????.dpx").c_str(), name);
  ASSERT_NE(search, nullptr);
  EXPECT_STREQ(name, "shot_0001.dpx");
  EXPECT_FALSE(PlatformFindNext(search, name));
  EXPECT_FALSE(PlatformFindNext(search, name));
  PlatformFindClose(search);
}

TEST(PlatformSearchTest, LongNamesComeBackWhole) {
  TestDir dir;
  // As long as a name may be while the whole path stays within the classic 260-byte limit.
  const size_t room = 259 - (dir.path().string().size() + 1);
  const std::string longName = "long_" + std::string(std::min<size_t>(room, 255) - 9, 'x') + ".dpx";
  dir.Write(longName, {1});
  EXPECT_EQ(FindAll(dir / "long_*.dpx"), Names{longName});
}

TEST(PlatformSearchTest, PatternWithoutFolderSearchesTheCurrentFolder) {
  TestDir dir;
  dir.Write("shot_0001.dpx", {1});
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const Names found = FindAll("shot_????.dpx");
  std::filesystem::current_path(before);  // the folder cannot be removed while it is current
  EXPECT_EQ(found, Names{"shot_0001.dpx"});
}

// ---- Files -------------------------------------------------------------------------------

Bytes Counting(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + 1);
  return b;
}

TEST(PlatformFileTest, OpensOnlyExistingFiles) {
  TestDir dir;
  EXPECT_EQ(PlatformOpenFile((dir / "missing.dpx").c_str()), nullptr);
  EXPECT_EQ(PlatformOpenFile(dir.path().string().c_str()), nullptr);  // a folder is no file
  EXPECT_EQ(PlatformOpenFile(""), nullptr);
#ifndef _WIN32
  // A device never ends: a movie path linked to one must not feed the atom walk forever.
  EXPECT_EQ(PlatformOpenFile("/dev/zero"), nullptr);
#endif

  // Two readers of one file at once: the viewer never locks others out.
  const std::string path = dir.Write("frame.dpx", Counting(4));
  const PlatformFile first = PlatformOpenFile(path.c_str());
  const PlatformFile second = PlatformOpenFile(path.c_str());
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  PlatformCloseFile(first);
  PlatformCloseFile(second);
}

TEST(PlatformFileTest, ReadsReturnWhatArrived) {
  TestDir dir;
  const Bytes content = Counting(50000);
  const PlatformFile file = PlatformOpenFile(dir.Write("frame.dpx", content).c_str());
  ASSERT_NE(file, nullptr);
  Bytes buffer(46080);  // the largest row any reader asks for at once
  EXPECT_EQ(PlatformReadFile(file, buffer.data(), 10), 10u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 10, content.begin()));
  EXPECT_EQ(PlatformReadFile(file, buffer.data(), 46080), 46080u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin() + 10));
  EXPECT_EQ(PlatformReadFile(file, buffer.data(), 46080), 50000u - 46090u);  // short at the end
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 3910, content.begin() + 46090));
  EXPECT_EQ(PlatformReadFile(file, buffer.data(), 16), 0u);  // and nothing after it
  EXPECT_EQ(PlatformReadFile(file, buffer.data(), 0), 0u);
  PlatformCloseFile(file);
}

TEST(PlatformFileTest, SeeksMoveTheReadPosition) {
  TestDir dir;
  const Bytes content = Counting(100);
  const PlatformFile file = PlatformOpenFile(dir.Write("frame.dpx", content).c_str());
  ASSERT_NE(file, nullptr);
  uint8_t byte = 0;
  struct Step {
    int64_t offset;
    PlatformSeekOrigin origin;
    int64_t position;  // the result, -1 for a refused move
    uint32_t got;      // what a one-byte read then delivers
    int64_t readAt;    // and from where
  };
  const Step steps[] = {
      {40, SeekFromStart, 40, 1, 40},     // absolute
      {9, SeekFromCurrent, 50, 1, 50},    // relative, from after the byte just read
      {-21, SeekFromCurrent, 30, 1, 30},  // backwards
      {-1, SeekFromStart, -1, 1, 31},     // before the start: refused, position kept
      {-33, SeekFromCurrent, -1, 1, 32},  // the same reached relatively
      {0, SeekFromCurrent, 33, 1, 33},    // asks where the position is
      {99, SeekFromStart, 99, 1, 99},     // the last byte
      {100, SeekFromStart, 100, 0, 0},    // the end: nothing to read
      {1000, SeekFromStart, 1000, 0, 0},  // past the end is allowed, reads deliver nothing
      {0, SeekFromStart, 0, 1, 0},        // and the way back is open
  };
  for (const Step& s : steps) {
    EXPECT_EQ(PlatformSeekFile(file, s.offset, s.origin), s.position)
        << s.offset << (s.origin == SeekFromStart ? " from start" : " from current");
    byte = 0;
    EXPECT_EQ(PlatformReadFile(file, &byte, 1), s.got) << s.offset;
    if (s.got == 1) {
      EXPECT_EQ(byte, content[size_t(s.readAt)]) << s.offset;
    }
  }
  PlatformCloseFile(file);
}

// Offsets beyond 4 GiB, where a 32-bit offset anywhere on the way would wrap. The file is
// sparse: it claims 5 GiB but holds only the few bytes written.
TEST(PlatformFileTest, SeeksBeyondFourGibibytes) {
  constexpr int64_t kGiB = int64_t(1) << 30;
  constexpr int64_t kMark = 4 * kGiB + 16;
  TestDir dir;
  const std::string path = dir / "huge.mov";
  {
    std::error_code error;
    dir.Write("huge.mov", {});
    std::filesystem::resize_file(path, uint64_t(5 * kGiB), error);
    if (error || std::filesystem::file_size(path, error) != uint64_t(5 * kGiB)) {
      GTEST_SKIP() << "the file system refuses a 5 GiB file here";
    }
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(std::streamoff(kMark - 1));
    out.write("\x5A\xA5\xC3", 3);  // the middle byte sits at 4 GiB + 16
    out.flush();
    if (!out) GTEST_SKIP() << "cannot write beyond 4 GiB here";
  }
  const PlatformFile file = PlatformOpenFile(path.c_str());
  ASSERT_NE(file, nullptr);
  uint8_t bytes[3] = {};
  EXPECT_EQ(PlatformSeekFile(file, kMark - 1, SeekFromStart), kMark - 1);
  EXPECT_EQ(PlatformReadFile(file, bytes, 3), 3u);
  EXPECT_EQ(bytes[0], 0x5A);
  EXPECT_EQ(bytes[1], 0xA5);
  EXPECT_EQ(bytes[2], 0xC3);
  // Relative moves across the 4 GiB line, both ways, and onto a position whose low 32 bits are
  // all ones, which the system's own seek reports much like a failure.
  EXPECT_EQ(PlatformSeekFile(file, -kMark - 2, SeekFromCurrent), 0);
  EXPECT_EQ(PlatformSeekFile(file, 4 * kGiB - 1, SeekFromCurrent), 4 * kGiB - 1);
  EXPECT_EQ(PlatformSeekFile(file, 17, SeekFromCurrent), kMark);
  EXPECT_EQ(PlatformReadFile(file, bytes, 1), 1u);
  EXPECT_EQ(bytes[0], 0xA5);
  EXPECT_EQ(PlatformSeekFile(file, 8 * kGiB - 1, SeekFromStart), 8 * kGiB - 1);  // past the end
  EXPECT_EQ(PlatformReadFile(file, bytes, 1), 0u);
  EXPECT_EQ(PlatformSeekFile(file, -8 * kGiB, SeekFromCurrent), -1);
  EXPECT_EQ(PlatformSeekFile(file, 0, SeekFromCurrent), 8 * kGiB - 1);  // kept after a refusal
  PlatformCloseFile(file);
}

}  // namespace
