// Sequence scan, frame list order and frame loading, on folders built per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/viewer_state.h"
#include "sequence/sequence.h"
#include "sequence/sequence_testing.h"
#include "tests/unit/error_box_capture.h"
#include "tests/unit/test_files.h"

namespace {

class SequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetViewerState();
    ShownErrors.clear();
    BetweenScanPassesHook = nullptr;
  }
  void TearDown() override { BetweenScanPassesHook = nullptr; }

  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    for (int32_t k = 0; k < FrameListLength(); ++k) names.emplace_back(FrameListEntry(k));
    return names;
  }

  TestDir dir_;
};

struct PatternCase {
  const char* path;
  int32_t kind;
  const char* pattern;
  const char* namePart;
};

// The pattern is built before the folder is searched, so folders that do not exist will do.
const PatternCase kPatternCases[] = {
    {"C:\\seq\\shot_0012.dpx", Dpx, "C:\\seq\\shot_????.dpx", "shot_0012.dpx"},
    {"C:\\seq\\0012.DPX", Dpx, "C:\\seq\\????.DPX", "0012.DPX"},  // only digits; case ignored
    {"C:\\seq\\take01.0012.dpx", Dpx, "C:\\seq\\take01.????.dpx", "take01.0012.dpx"},
    {"C:\\raw\\clip.0005.4K.r", RgbPlanes, "C:\\raw\\clip.????.4K.r", "clip.0005.4K.r"},
    {"C:\\raw\\clip0005_8K.G", RgbPlanes, "C:\\raw\\clip0005_8K.G", "clip0005_8K.G"},
    {"C:\\mov\\scene.mov", Mov, "C:\\mov\\scene.mov", "scene.mov"},
    {"C:\\mov\\scene01.Mov", Mov, "C:\\mov\\scene01.Mov", "scene01.Mov"},  // a movie keeps digits
    {"C:\\mov\\scene.mp4", Unknown, "C:\\mov\\scene.mp4", "scene.mp4"},
    {"C:\\seq\\shot_0012.dpx\"", Dpx, "C:\\seq\\shot_????.dpx", "shot_0012.dpx"},  // quote cut
    {"shot_0012.dpx", Dpx, "shot_????.dpx", "shot_0012.dpx"},  // no folder: the whole path
    {"C:/seq/shot_0012.dpx", Dpx, "C:/seq/shot_????.dpx", "shot_0012.dpx"},  // forward slashes
    {"C:\\seq\\1234", Unknown, "C:\\seq\\1234", "1234"},                     // no dot at all
    {"C:\\seq\\x.rgb", Unknown, "C:\\seq\\x.rgb", "x.rgb"},
    {"C:\\seq\\x.dp", Unknown, "C:\\seq\\x.dp", "x.dp"},
    {"C:\\seq\\x.movx", Unknown, "C:\\seq\\x.movx", "x.movx"},
    {"C:\\seq\\12.34.dpx", Dpx, "C:\\seq\\12.??.dpx", "12.34.dpx"},  // the stopping dot is passed
    {"C:\\seq\\a1.b22.c333.dpx", Dpx, "C:\\seq\\a?.b??.c???.dpx", "a1.b22.c333.dpx"},  // every dot
    {"C:\\7\\9.dpx", Dpx, "C:\\7\\?.dpx", "9.dpx"},  // the run stops at the backslash
    {".dpx", Dpx, ".dpx", ".dpx"},
    {"", Unknown, "", ""},
};

TEST_F(SequenceTest, ClassifiesAndBuildsThePattern) {
  for (const PatternCase& c : kPatternCases) {
    SCOPED_TRACE(c.path);
    ResetViewerState();
    ASSERT_TRUE(SetViewerPath(c.path));
    EXPECT_EQ(ScanSequence(), -1);  // nothing of the kind exists here
    EXPECT_EQ(Viewer.Kind, c.kind);
    EXPECT_STREQ(Viewer.Scratch, c.pattern);
    EXPECT_STREQ(Viewer.Path + Viewer.NamePart, c.namePart);
    EXPECT_EQ(Viewer.FrameCount, 0);
  }
}

TEST_F(SequenceTest, QuoteCutsThePathBufferToo) {
  ASSERT_TRUE(SetViewerPath("C:\\seq\\shot_0012.dpx\""));
  ScanSequence();
  EXPECT_STREQ(Viewer.Path, "C:\\seq\\shot_0012.dpx");
}

TEST_F(SequenceTest, ListsTheSequenceInFrameOrderAcrossDigitCounts) {
  // Created out of order: enumeration order is the file system's business, not the viewer's.
  for (const char* name : {"shot_1001.dpx", "shot_0999.dpx", "shot_1000.dpx", "shot_0998.dpx",
                           "shot_1002.dpx", "other_0001.dpx", "shot_0001.mov"}) {
    dir_.Write(name, {});
  }
  ASSERT_TRUE(SetViewerPath(dir_ / "shot_1000.dpx"));
  ASSERT_EQ(ScanSequence(), 0);
  EXPECT_EQ(Viewer.Kind, Dpx);
  EXPECT_EQ(Viewer.FrameCount, 5);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"shot_0998.dpx", "shot_0999.dpx", "shot_1000.dpx",
                                                "shot_1001.dpx", "shot_1002.dpx"}));
  EXPECT_EQ(Viewer.CurrentFrame, 2);
  EXPECT_EQ(Viewer.LongestName, 13);
}

// Whether "f?.dpx" also lists f10.dpx is the file system's business; the order is ours.
TEST(FrameOrder, DigitRunsCompareByValue) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } const cases[] = {
      {"shot_0999.dpx", "shot_1000.dpx", -1},  // NTFS order breaks here
      {"f9.dpx", "f10.dpx", -1},
      {"f10.dpx", "f100.dpx", -1},
      {"a2b10.dpx", "a2b9.dpx", 1},  // the second run decides
      {"a10b1.dpx", "a9b2.dpx", 1},  // the first run decides
      {"001.dpx", "1.dpx", -1},      // equal by value: the bytes decide, never 0
      {"x.dpx", "x1.dpx", -1},       // a digit against another byte: the bytes decide
      {"abc", "abd", -1},
      {"same_01.dpx", "same_01.dpx", 0},
      {"f00000000000000000000001.dpx", "f2.dpx", -1},  // longer than any integer type
  };
  for (const Case& c : cases) {
    const int forward = CompareFrameNames(c.a, c.b);
    const int backward = CompareFrameNames(c.b, c.a);
    EXPECT_EQ((forward > 0) - (forward < 0), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ((backward > 0) - (backward < 0), -c.sign) << c.b << " vs " << c.a;
  }
}

TEST_F(SequenceTest, OpenedNameInAnotherCaseStartsAtTheFirstFrame) {
  for (const char* name : {"shot_0001.dpx", "shot_0002.dpx"}) dir_.Write(name, {});
  ASSERT_TRUE(SetViewerPath(dir_ / "SHOT_0002.DPX"));
  ASSERT_EQ(ScanSequence(), 0);  // the search ignores case, the name comparison does not
  EXPECT_EQ(Viewer.FrameCount, 2);
  EXPECT_EQ(Viewer.CurrentFrame, 0);
}

TEST_F(SequenceTest, SeveralMatchingMoviesListOnlyTheOpenedOne) {
  for (const char* name : {"scene01.mov", "scene02.mov", "scene03.mov"}) dir_.Write(name, {});
  ASSERT_TRUE(SetViewerPath(dir_ / "scene02.mov"));
  ASSERT_EQ(ScanSequence(), 0);
  EXPECT_EQ(Viewer.Kind, Mov);
  EXPECT_EQ(Listed(), std::vector<std::string>{"scene02.mov"});
  EXPECT_EQ(Viewer.CurrentFrame, 0);
}

TEST_F(SequenceTest, MatchingSubFolderIsListedAndFailsToLoad) {
  dir_.Write("shot_0001.dpx", {});
  std::filesystem::create_directory(dir_.path() / "shot_0002.dpx");
  ASSERT_TRUE(SetViewerPath(dir_ / "shot_0001.dpx"));
  ASSERT_EQ(ScanSequence(), 0);
  EXPECT_EQ(Viewer.FrameCount, 2);
  Viewer.CurrentFrame = 1;
  EXPECT_EQ(LoadFrame(), -1);
}

TEST_F(SequenceTest, LoadFrameRefusesIndexesOutsideTheList) {
  dir_.Write("shot_0001.dpx", {});
  ASSERT_TRUE(SetViewerPath(dir_ / "shot_0001.dpx"));
  ASSERT_EQ(ScanSequence(), 0);
  const std::string before = Viewer.Path;
  for (int32_t index : {-1, 1, 1000}) {
    Viewer.CurrentFrame = index;
    EXPECT_EQ(LoadFrame(), -1) << index;
    EXPECT_EQ(before, Viewer.Path) << index;
  }
}

TEST_F(SequenceTest, LoadFrameWritesTheListedNameAfterTheFolder) {
  for (const char* name : {"a_1.x", "a_2.x"}) dir_.Write(name, {});
  ASSERT_TRUE(SetViewerPath(dir_ / "a_1.x"));
  ASSERT_EQ(ScanSequence(), 0);  // an unknown kind lists, and then fails to load
  Viewer.CurrentFrame = 1;
  EXPECT_EQ(LoadFrame(), -1);
  EXPECT_EQ(std::string(Viewer.Path), dir_ / "a_2.x");
}

// A listed name that does not fit after the folder part is refused with the path untouched.
TEST_F(SequenceTest, LoadFrameNeverWritesPastThePathBuffer) {
  struct Case {
    int32_t namePart;
    size_t nameLength;
    bool fits;
  } const cases[] = {
      {250, 9, true},    // 250 + 9 + terminator = 260: the last byte
      {250, 10, false},  // one past
      {259, 0, true},    // an empty name at the very end
      {0, 259, true},    // a name filling the whole buffer
      {0, 260, false},
  };
  for (const Case& c : cases) {
    ResetViewerState();
    std::memset(Viewer.Path, 'p', sizeof Viewer.Path - 1);
    Viewer.NamePart = c.namePart;
    Viewer.Kind = Unknown;
    Viewer.LongestName = int32_t(c.nameLength);
    Viewer.FrameList = static_cast<char*>(calloc(c.nameLength + 1, 1));
    std::memset(Viewer.FrameList, 'n', c.nameLength);
    Viewer.FrameCount = 1;
    EXPECT_EQ(LoadFrame(), -1);
    const bool written =
        Viewer.Path[c.namePart] == 'n' || (c.nameLength == 0 && Viewer.Path[c.namePart] == '\0');
    EXPECT_EQ(written, c.fits) << c.namePart << " + " << c.nameLength;
    free(Viewer.FrameList);
    Viewer.FrameList = nullptr;
  }
}

// Another program may add, remove or rename files between the two passes.
const TestDir* ChangingDir = nullptr;

TEST_F(SequenceTest, FolderChangingBetweenThePassesStaysInsideTheList) {
  for (const char* name : {"s_01.dpx", "s_02.dpx"}) dir_.Write(name, {});
  ChangingDir = &dir_;
  BetweenScanPassesHook = [] {
    for (const char* name : {"s_03.dpx", "s_04.dpx", "s_1.dpx"}) ChangingDir->Write(name, {});
  };
  ASSERT_TRUE(SetViewerPath(dir_ / "s_02.dpx"));
  ASSERT_EQ(ScanSequence(), 0);
  EXPECT_EQ(Viewer.FrameCount, 2);  // no more than the first pass counted
  for (const std::string& name : Listed()) EXPECT_LE(name.size(), 8u);

  BetweenScanPassesHook = [] {
    std::filesystem::remove(ChangingDir->path() / "s_01.dpx");
    std::filesystem::remove(ChangingDir->path() / "s_1.dpx");
  };
  ASSERT_EQ(ScanSequence(), 0);
  EXPECT_EQ(Viewer.FrameCount, 3);  // five counted, three still there

  BetweenScanPassesHook = [] { std::filesystem::remove_all(ChangingDir->path()); };
  EXPECT_EQ(ScanSequence(), -1);
}

TEST_F(SequenceTest, OpenSequenceReportsEachFailureOnceAndEmptiesTheSequence) {
  dir_.Write("clip_0001.mp4", {});
  dir_.Write("shot_0001.dpx", {});
  struct Case {
    std::string path;
    const char* message;
  } const cases[] = {
      {dir_ / "missing_0001.dpx", "Can't open file!"},
      {(dir_.path() / "nofolder" / "shot_0001.dpx").string(), "Can't open file!"},
      {"", "Can't open file!"},
      {dir_ / "clip_0001.mp4", "Invalid image file!"},  // listed, but no reader for it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ShownErrors.clear();
    ASSERT_TRUE(SetViewerPath(c.path));
    Viewer.FrameCount = 7;
    Viewer.PlaybackStep = 5;
    OpenSequence();
    EXPECT_EQ(ShownErrors, std::vector<std::string>{c.message});
    EXPECT_EQ(Viewer.FrameCount, 0);
    EXPECT_EQ(Viewer.PlaybackStep, 0);
  }
}

// Paths right at the length the path buffer holds, which the system's own calls also take.
TEST_F(SequenceTest, PathsAtTheBufferLimit) {
  const std::string folder = (dir_ / "x");
  const size_t folderLength = folder.size() - 1;  // dir_ plus its separator
  for (size_t total : {size_t(258), size_t(259)}) {
    SCOPED_TRACE(total);
    ResetViewerState();
    const size_t nameLength = total - folderLength;
    if (nameLength < 10) GTEST_SKIP() << "temporary folder path too long";
    std::string name(nameLength - 8, 'n');
    name += "_001.dpx";
    dir_.Write(name, {});
    ASSERT_TRUE(SetViewerPath(dir_ / name));
    ASSERT_EQ(std::strlen(Viewer.Path), total);
    ASSERT_EQ(ScanSequence(), 0);
    EXPECT_EQ(Viewer.FrameCount, 1);
    EXPECT_EQ(LoadFrame(), -1);  // reaches the (refusing) reader with the listed name in place
    EXPECT_EQ(std::string(Viewer.Path), dir_ / name);
  }
  EXPECT_FALSE(SetViewerPath(std::string(260, 'a')));  // 260 characters never fit
}

}  // namespace
