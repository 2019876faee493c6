// Every refusal says why: one row per reason, the smallest file that meets it, opened as the
// frame tool opens it, and the exact lines a user reads: the message, then "name: fact".

#include <array>
#include <tuple>

#include "core/reasons.h"
#include "tests/unit/test_files.h"
#include "tools/testpattern/movie_file.h"

namespace {

using Files = std::vector<std::pair<std::string, Bytes>>;  // a name ending in "/": a folder

// A 2 x 2 DPX of 10-bit RGB with header fields set, each (at, value, bytes) big-endian.
Bytes Dpx(std::initializer_list<std::array<uint32_t, 3>> fields) {
  DpxFileLayout layout;
  layout.Bits = 10;
  layout.Packing = 1;
  Bytes b = RowFileBytes(DpxLayoutFile(layout, 2, 2, [](int32_t, Rgb10* row) {
    row[0] = row[1] = {64, 64, 64};
  }));
  for (const auto& [at, value, bytes] : fields) {
    for (uint32_t k = 0; k < bytes; ++k) b[at + k] = uint8_t(value >> 8 * (bytes - 1 - k));
  }
  return b;
}

// A movie of the tracks, its moov's fields patched as (type, at, value) (PatchAtomField).
Bytes Movie(const std::vector<MovieTrack>& tracks,
            std::initializer_list<std::tuple<const char*, int32_t, uint32_t>> patches = {}) {
  auto pieces = TrackedMovieFile(tracks, [](size_t, uint32_t, uint8_t*, size_t) {});
  for (const auto& [type, at, value] : patches) PatchAtomField(pieces[2].second, type, at, value);
  Bytes all;
  for (const auto& [at, bytes] : pieces) {
    all.resize(std::max<size_t>(all.size(), at + bytes.size()));
    std::copy(bytes.begin(), bytes.end(), all.begin() + ptrdiff_t(at));
  }
  return all;
}

MovieTrack Track(const char* handler, const char* format, int32_t w, int32_t h,
                 uint32_t sampleBytes = 0) {
  MovieTrack t;
  t.Handler = handler, t.Format = format, t.Width = w, t.Height = h, t.SampleBytes = sampleBytes;
  return t;
}

// What the frame tool prints on stderr for the path, frame -1 the one opened; "" when shown.
std::string Said(const std::string& path, int32_t frame) {
  testing::internal::CaptureStderr();
  if (!TakeOpenPath(path.c_str()) || ScanSequence() != 0) {
    FailOpen(kCantOpenMessage);
  } else {
    if (frame >= 0) Viewer.CurrentFrame = frame;
    bool rebuilt = false;
    if (ShowFrame(rebuilt) != 0) FailOpen(kInvalidImageMessage);
  }
  return testing::internal::GetCapturedStderr();
}

struct ReasonCase {
  Files Written;
  std::string Opened;
  int32_t Frame;
  std::string Message;  // after "Error: ", the reason on the next line
};

std::vector<ReasonCase> ReasonCases() {
  const std::string cant = "Can't open file!\n", invalid = "Invalid image file!\n";
  const auto dpx = [&](std::initializer_list<std::array<uint32_t, 3>> fields, const char* fact) {
    return ReasonCase{{{"s_1.dpx", Dpx(fields)}}, "s_1.dpx", -1, invalid + "s_1.dpx: " + fact};
  };
  const auto movie = [&](const Bytes& file, const std::string& fact, int32_t frame = -1) {
    return ReasonCase{{{"m.mov", file}}, "m.mov", frame, invalid + "m.mov: " + fact};
  };
  const auto codec = [&](const char* format, const std::string& named) {
    const std::string fact = "the picture track is " + named + "; only uncompressed v210 is read";
    return movie(Movie({Track("vide", format, 8, 2, 16)}), fact);
  };
  const Bytes mdat = Atom("mdat", Bytes(8));
  const MovieTrack v210 = Track("vide", "v210", 8, 2), sound = Track("soun", "sowt", 0, 0, 4);
  return {
      {{},
       std::string(300, 'f') + ".dpx",
       -1,  // the name cut at its start, the fact whole
       cant + "..." + std::string(277, 'f') + ".dpx: the path is longer than 259 bytes"},
      {{}, "g_1.dpx", -1, cant + "g_1.dpx: no such file"},
      {{{"g_1.dpx/", {}}}, "g_1.dpx", -1, cant + "g_1.dpx: no such file"},  // a folder
      {{{"a.mp4", {}}},
       "a.mp4",
       -1,
       invalid + "a.mp4: not a kind of file the viewer reads; it "
                 "reads .dpx, .mov and .r .g .b planes"},
      {{{"s_1.dpx", Dpx({})}},
       "s_1.dpx",
       1,
       invalid + "s_1.dpx: no frame 1 in the sequence; its frame count is 1"},
      {{{"s_1.dpx", Bytes(779)}},
       "s_1.dpx",
       -1,
       invalid + "s_1.dpx: 779 bytes, too short for a DPX header"},
      {{{"s_1.dpx", Bytes(2048)}},
       "s_1.dpx",
       -1,
       invalid + "s_1.dpx: not a DPX file (no SDPX at its start)"},
      dpx({{770, 9, 2}}, "9 image elements; DPX has at most 8"),
      dpx({{770, 2, 2}}, "image element 2 has another layout than the first"),  // all zeros
      dpx({{780, 1, 4}}, "DPX with signed samples is not read"),
      dpx({{806, 1, 2}}, "run-length encoded DPX is not read"),
      dpx({{800, 100, 1}}, "DPX in YCbCr 4:2:2 (descriptor 100) is not read; RGB and RGBA are"),
      dpx({{800, 6, 1}}, "DPX in luma (descriptor 6) is not read; RGB and RGBA are"),
      dpx({{800, 49, 1}}, "DPX in an unknown layout (descriptor 49) is not read; RGB and RGBA are"),
      dpx({{804, 3, 2}}, "DPX packing 3 is not read; 0, 1 and 2 are"),
      dpx({{768, 4, 2}}, "DPX orientation 4 (rows turned into columns) is not read; 0 to 3 are"),
      dpx({{803, 32, 1}}, "DPX with 32-bit samples is not read; 8, 10, 12 and 16 bits are"),
      dpx({{772, 7680, 4}, {776, 4321, 4}}, "the header says 7680 x 4321, larger than 7680 x 4320"),
      {{{"c_1.4k.r", {}}},
       "c_1.4k.r",
       -1,
       invalid + "c_1.4k.r: no size before the plane letter, as in clip.4K.r or clip.8K.r"},
      {{{"c_1.4K.r", {}}, {"c_1.4K.b", {}}},
       "c_1.4K.b",
       -1,  // named by the plane missing
       invalid + "c_1.4K.g: the green plane is missing"},
      movie(Join({mdat, Moov({Stsz(k4kSampleSize, 0)})}), "no frames found in the movie"),
      movie(Bytes(16), "no frames found in the movie"),
      movie(Join({mdat, Moov({Stsz(1000, 1)})}),
            "frames of 1000 bytes name no v210 size; 3840 x 2160 and 7680 x 4320 are read"),
      movie(Movie({v210}, {{"mvhd", -4, 0x6D766578}}), "a fragmented movie (moof) is not read"),
      movie(Movie({sound}), "the movie has no picture track"),
      {{{"m.mov", Movie({Track("vide", "apcn", 8, 2, 16), v210})}}, "m.mov", -1, ""},  // the next
      codec("apcn", "ProRes 422 ('apcn')"),
      codec("avc1", "H.264 ('avc1')"),
      codec("ab\1d", "'ab?d'"),  // unknown, unprintable
      movie(Movie({Track("vide", "v210", 7682, 2, 16)}),
            "the picture track says 7682 x 2; 1 x 1 to 7680 x 4320 are read"),
      movie(Movie({v210}, {{"stsz", 8, 0x200001}}),
            "the movie has 2097153 frames, more than 2097152"),
      movie(Movie({v210}, {{"stsz", 8, 0}}), "no frames found in the movie"),
      movie(Movie({v210}, {{"stsz", 4, 0}}), "the sample tables are cut short"),  // no sizes
      movie(Movie({v210}, {{"stsc", 8, 2}}), "the sample tables contradict each other"),
      movie(Movie({Track("vide", "v210", 8, 2, 255)}),  // rows of 128 bytes
            "frame 0 is 255 bytes, shorter than its rows (256)"),
      movie(Movie({v210}), "no frame 3 in the movie; its frame count is 1", 3),
  };
}

// A long name cut at its start loses whole characters only: three-byte ソ in UTF-8.
TEST(Reasons, LongNamesAreCutBetweenCharacters) {
  std::string name, kept;
  for (int k = 0; k < 100; ++k) name += "\xE3\x82\xBD";
  for (int k = 0; k < 92; ++k) kept += "\xE3\x82\xBD";
  SetReason(kReasonPathTooLong, ("C:\\cut\\" + name + ".dpx").c_str());
  EXPECT_EQ(Viewer.Reason, "..." + kept + ".dpx: the path is longer than 259 bytes");
}

TEST(Reasons, EveryRefusalSaysWhy) {
  ResetViewerState();
  BuildColourTables();
  int row = 0;
  for (const ReasonCase& c : ReasonCases()) {
    SCOPED_TRACE(testing::Message() << "row " << row++);
    TestDir dir;
    for (const auto& [name, bytes] : c.Written) {
      if (name.back() == '/')
        std::filesystem::create_directory(dir / name.substr(0, name.size() - 1));
      if (name.back() != '/') dir.Write(name, bytes);
    }
    Prepare(16, 16, 0);
    EXPECT_EQ(Said(dir / c.Opened, c.Frame), c.Message.empty() ? "" : "Error: " + c.Message + "\n");
    EXPECT_EQ(Viewer.Reason, c.Message.substr(c.Message.find('\n') + 1));
  }
  // A reload into a bitmap not rebuilt for the source (it must not be written).
  TestDir dir;
  const std::string path = dir.Write("s_1.dpx", Dpx({}));
  Prepare(2, 2, 0);
  ASSERT_EQ(Said(path, -1), "");
  Viewer.ScaleShift = 1;
  EXPECT_EQ(LoadFrame(), -1);
  EXPECT_STREQ(Viewer.Reason, "s_1.dpx: the display bitmap is not made for this frame's size");
  EXPECT_EQ(Viewer.ReasonFact, 9);
  std::filesystem::remove(path);  // gone since the scan
  EXPECT_EQ(LoadFrame(), -1);
  EXPECT_STREQ(Viewer.Reason, "s_1.dpx: can't be opened");
  ResetViewerState();
}

}  // namespace
