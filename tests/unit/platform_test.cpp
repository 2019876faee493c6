// Files and folder search of the platform layer. The same cases run natively against the posix
// code and under Wine against the system's own, so that the two stay one behaviour.
#include "platform/dir_search.h"
#include "platform/file.h"
#include "platform/workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/unit/test_files.h"

namespace {

const bool kWine = std::getenv("WINECONFIGDIR") != nullptr;  // Wine sets it, Windows never

// Every name the search reports for pattern, sorted, one space between.
std::string FindAll(const std::string& pattern) {
  std::multiset<std::string> names;
  char name[kPlatformNameSize];
  const PlatformSearch search = PlatformFindFirst(pattern.c_str(), name);
  if (search == nullptr) return "";
  do names.insert(name);
  while (PlatformFindNext(search, name));
  PlatformFindClose(search);
  std::string all;
  for (const std::string& n : names) all += (all.empty() ? "" : " ") + n;
  return all;
}

TEST(PlatformSearch, WildcardsFollowTheWindowsRules) {
  const struct {
    const char *Pattern, *Name;
    bool Windows;      // listed by Windows' own search
    bool WineDiffers;  // Wine 8.0 takes a "?" as exactly one character, dots included
  } cases[] = {
      {"shot_????.dpx", "shot_0001.dpx", true, false},    // one "?" per digit
      {"shot_????.dpx", "SHOT_0001.DPX", true, false},    // letter case is ignored
      {"shot_????.dpx", "shot_000a.dpx", true, false},    // "?" is any character
      {"shot_????.dpx", "shot_12.dpx", true, true},       // "?"s before a dot may match none
      {"shot_????.dpx", "shot_.dpx", true, true},         // all of them
      {"shot_????.dpx", "shot_00001.dpx", false, false},  // never more than one each
      {"shot_????.dpx", "shot_0001.dpxx", false, false},  // the name ends with the pattern
      {"shot_????.dpx", "shot_1.2.dpx", false, false},    // "?" does not swallow a dot
      {"clip?0005.4K.r", "clip.0005.4K.r", false, true},  // not even a single one
      {"ab?", "abc", true, false},                        // at the end: one character
      {"ab??", "ab", true, true},                         // or none
      {"ab?", "abcd", false, false},                      // never two
      {"a?c", "ac", false, false},                        // inside a name: one character
      {"?a.b", "a.b", false, false},                      // none only before a dot or the end
      {"clip.????.4K.r", "CLIP.0005.4k.R", true, false},  // several dots, case ignored
      {"clip.????.4K.r", "clip.05.4K.r", true, true},     // short number before a middle dot
      {"shot_*", "shot_0.1.dpx", true, false},            // "*" is any run, dots included
      {"s*_*1.dpx", "s_a_b_1.dpx", true, false},          // several, each any run
      {"shot[1].dpx", "shot[1].dpx", true, false},        // brackets are plain characters
      {"shot[1].dpx", "shot1.dpx", false, false},         // not a set
      {"*x", ".x", true, false},  // a name that starts with a dot is no "." or ".." entry
  };
  for (const auto& c : cases) {
    TestDir dir;
    dir.Write(c.Name, {1});
    EXPECT_EQ(FindAll(dir / c.Pattern), c.Windows != (kWine && c.WineDiffers) ? c.Name : "")
        << c.Pattern << " " << c.Name << (kWine ? " (Wine)" : "");
  }
}

TEST(Platform, FindsAndOpensOnlyWhatIsThere) {
  TestDir dir;
  EXPECT_EQ(FindAll(dir / "*"), "");  // "." and ".." match, but are never reported
  const std::string path = dir.Write("s_1.dpx", {1});
  dir.Write("s_0002.dpx", {1});
  std::filesystem::create_directory(dir / "s_0003.dpx");
  EXPECT_EQ(FindAll(dir / "missing/s_????.dpx"), "");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string here = FindAll("s_????.dpx");  // no folder: the current one
  std::filesystem::current_path(before);           // a current folder cannot be removed
  EXPECT_EQ(here, kWine ? "s_0002.dpx" : "s_0002.dpx s_1.dpx");  // files only, never folders
  std::vector<std::string> refused = {dir / "missing.dpx", dir.path().string(), ""};
#ifndef _WIN32
  // Like folders, which Windows never opens as files: a device could feed the atom walk forever
  // (/dev/zero), a FIFO block a read.
  ASSERT_EQ(mkfifo((dir / "fifo.dpx").c_str(), 0600), 0);
  refused.insert(refused.end(), {"/dev/zero", dir / "fifo.dpx"});
#endif
  for (const std::string& p : refused) EXPECT_EQ(PlatformOpenFile(p.c_str()), nullptr) << p;
#ifndef _WIN32
  const int lowest = open(path.c_str(), O_RDONLY);  // posix hands out the lowest free descriptor
  close(lowest);
#endif
  const PlatformFile first = PlatformOpenFile(path.c_str());
  const PlatformFile second = PlatformOpenFile(path.c_str());  // others are never locked out
  EXPECT_NE(second, nullptr);
  PlatformCloseFile(second);
  PlatformCloseFile(first);
#ifndef _WIN32
  const int again = open(path.c_str(), O_RDONLY);
  EXPECT_EQ(again, lowest);  // every descriptor of both is closed
  close(again);
#endif
}

// Reads and seeks on a sparse file of 5 GiB: positions past 4 GiB, where a 32-bit offset
// anywhere on the way would wrap, and short reads at its end.
TEST(PlatformFile, ReadsAndSeeksDeliverWhatTheFileHolds) {
  constexpr int64_t kGiB = int64_t(1) << 30, kMark = 4 * kGiB + 16;
  const auto byteAt = [](int64_t at) {  // counting bytes at the start and around kMark
    return uint8_t(at < 50000 || (at >= kMark - 1 && at <= kMark + 1) ? at * 7 + 1 : 0);
  };
  TestDir dir;
  Bytes start(50000);
  for (size_t i = 0; i < start.size(); ++i) start[i] = byteAt(int64_t(i));
  const std::string path = dir.Write("huge.mov", start);
  std::error_code error;
  std::filesystem::resize_file(path, uint64_t(5 * kGiB), error);
  {
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(std::streamoff(kMark - 1));
    for (int64_t at = kMark - 1; at <= kMark + 1; ++at) out.put(char(byteAt(at)));
    if (error || !out.flush()) GTEST_SKIP() << "the file system refuses a sparse 5 GiB file";
  }
  const PlatformFile file = PlatformOpenFile(path.c_str());
  ASSERT_NE(file, nullptr);
  const struct {
    int64_t Offset;
    PlatformSeekOrigin Origin;
    int64_t Position;  // the seek's result, -1 refused (the position kept)
    uint32_t Ask, Got;
  } steps[] = {
      {0, SeekFromCurrent, 0, 10, 10},                      // the start
      {0, SeekFromCurrent, 10, 61440, 61440},               // the longest row a reader asks for
      {40, SeekFromStart, 40, 1, 1},                        // absolute
      {-1, SeekFromStart, -1, 1, 1},                        // before the start: refused
      {kMark - 1, SeekFromStart, kMark - 1, 3, 3},          // beyond 4 GiB
      {-kMark - 2, SeekFromCurrent, 0, 1, 1},               // back across the line
      {4 * kGiB - 2, SeekFromCurrent, 4 * kGiB - 1, 1, 1},  // low 32 bits all ones, no failure
      {16, SeekFromCurrent, kMark, 1, 1},                   // across the line forwards
      {-3910, SeekFromEnd, 5 * kGiB - 3910, 61440, 3910},   // from the end: a short read
      {0, SeekFromCurrent, 5 * kGiB, 16, 0},                // nothing after it
      {8 * kGiB - 1, SeekFromStart, 8 * kGiB - 1, 1, 0},    // past the end is allowed
      {-8 * kGiB, SeekFromCurrent, -1, 0, 0},               // before the start
      {0, SeekFromCurrent, 8 * kGiB - 1, 0, 0},             // kept after a refusal
  };
  Bytes buffer(61440);
  int64_t at = 0;
  for (const auto& s : steps) {
    EXPECT_EQ(PlatformSeekFile(file, s.Offset, s.Origin), s.Position) << s.Offset;
    at = s.Position < 0 ? at : s.Position;
    ASSERT_EQ(PlatformReadFile(file, buffer.data(), s.Ask), s.Got) << s.Offset;
    for (uint32_t i = 0; i < s.Got; ++i) ASSERT_EQ(buffer[i], byteAt(at + i)) << at + i;
    at += s.Got;
  }
  PlatformCloseFile(file);
}

// A crew of each size runs every part of a job exactly once, the parts clamped to the crew, and
// a crew can be replaced or stopped and started again without a job of the old one running.
TEST(PlatformWorkers, EveryPartRunsOnceOnItsOwnWorker) {
  EXPECT_GE(PlatformProcessorCount(), 1);
  for (const int32_t count : {1, 2, 3, kMaxWorkers, kMaxWorkers + 5, 0}) {
    const int32_t expected = count < 1 ? 1 : std::min(count, kMaxWorkers);
    EXPECT_EQ(PlatformStartWorkers(count), expected);
    EXPECT_EQ(PlatformWorkerCount(), expected);
    for (const int32_t parts : {1, expected, expected + 1, 0}) {
      std::atomic<int32_t> runs[kMaxWorkers + 1] = {};
      std::atomic<int32_t> sawParts{0};
      struct Job {
        std::atomic<int32_t>* Runs;
        std::atomic<int32_t>* SawParts;
      } job = {runs, &sawParts};
      PlatformRunWorkers(
          [](void* context, int32_t part, int32_t parts) {
            Job& j = *static_cast<Job*>(context);
            j.Runs[part] += 1;
            j.SawParts->store(parts);
          },
          &job, parts);
      const int32_t ran = std::max(1, std::min(parts, expected));
      EXPECT_EQ(sawParts.load(), ran);
      for (int32_t k = 0; k <= kMaxWorkers; ++k) EXPECT_EQ(runs[k].load(), k < ran ? 1 : 0);
    }
  }
  PlatformStopWorkers();
  EXPECT_EQ(PlatformWorkerCount(), 1);
}

}  // namespace
