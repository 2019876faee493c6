// Playback's read-ahead, reached as the timer reaches it (PlaybackTick): whatever changes in the
// middle of play, every tick shows the frame the naive wrap rule names, as a load of that frame
// alone shows it; a file that vanishes or shrinks after it was read ahead gives what a load
// without read-ahead gives.
#include "core/playback.h"
#include "platform/read_queue.h"
#include "tests/unit/test_files.h"

namespace {

constexpr int32_t kW = 24, kH = 16;

// Five DPX frames of their own noise.
std::string DpxFrames(const TestDir& dir) {
  for (int f = 0; f < 5; ++f) {
    dir.Write("shot_000" + std::to_string(f) + ".dpx",
              Join({DpxMinimalHeader(kW, kH), Noise(kW * kH * 6, uint32_t(f))}));
  }
  return dir / "shot_0002.dpx";
}

// Three planar frames at the current size ("2K" names none).
std::string PlanarFrames(const TestDir& dir) {
  for (int f = 0; f < 3; ++f) {
    for (int k = 0; k < 3; ++k) {
      dir.Write("clip_000" + std::to_string(f) + ".2K." + "rgb"[k],
                Noise(kW * kH * 2, uint32_t(10 + 3 * f + k)));
    }
  }
  return dir / "clip_0000.2K.g";
}

// A 4K movie of three frames back to back, the top rows of each its own noise.
std::string MovieFrames(const TestDir& dir) {
  const Bytes head =
      Join({Moov({Stsz(k4kSampleSize, 3)}), AtomHeader(8 + 3 * k4kSampleSize, "mdat")});
  std::vector<std::pair<uint64_t, Bytes>> pieces = {{0, head}};
  for (uint32_t f = 0; f < 3; ++f) {
    pieces.push_back({head.size() + uint64_t(f) * k4kSampleSize, Noise(64 * 10240, 20 + f)});
  }
  return WriteSparse(dir / "clip.mov", head.size() + 3 * uint64_t(k4kSampleSize), pieces);
}

// The pixels' B, G and R: no reader writes the fourth bytes.
std::vector<uint8_t> Bitmap() {
  std::vector<uint8_t> b(Viewer.FramePixels, Viewer.FramePixels + BitmapBytes());
  for (size_t i = 3; i < b.size(); i += 4) b[i] = 0;
  return b;
}

// The frame after `current`, from the rule in its own words: past the last comes the first,
// before the first the last.
int32_t Naive(int32_t current, int32_t step, int32_t count) {
  const int32_t next = current + step;
  return next < 0 ? count - 1 : next >= count ? 0 : next;
}

// `ticks` ticks, each checked against the rule and against a load of its frame alone.
void Play(int32_t ticks) {
  for (int32_t t = 0; t < ticks; ++t) {
    const int32_t want = Naive(Viewer.CurrentFrame, Viewer.PlaybackStep, Viewer.FrameCount);
    bool rebuilt = false;
    ASSERT_EQ(PlaybackTick(rebuilt), 0);
    ASSERT_EQ(Viewer.CurrentFrame, want);
    const std::vector<uint8_t> shown = Bitmap();
    PlatformDropReadAhead();
    FillBitmap(kMark);
    ASSERT_EQ(LoadFrame(), 0);
    ASSERT_TRUE(Bitmap() == shown) << "frame " << want;
  }
}

void Press(PlaybackKey key, int32_t times) {
  for (int32_t k = 0; k < times; ++k) PressPlaybackKey(key);
}

// The shell's size command: a new bitmap, the frame loaded again, the step back to 0.
void ChooseSize(int32_t shift) {
  Viewer.ScaleShift = shift;
  ResetFrameBuffer();
  Viewer.PlaybackStep = 0;
  bool rebuilt = false;
  ASSERT_EQ(ShowFrame(rebuilt), 0);
}

TEST(ReadAhead, EveryTickShowsWhatALoadOfItsFrameAloneShows) {
  ResetViewerState();
  BuildColourTables();
  TestDir dpx, planar, movie;
  Prepare(kW, kH, 1);
  ASSERT_EQ(Open(DpxFrames(dpx)), "");
  Press(KeyStepForward, 1);
  Play(4);  // 3, 4, then the wrap to 0, and 1
  Press(KeyStepBack, 3);
  Play(3);  // step -2: through the wrap backwards
  ChooseSize(0);
  Press(KeyStepForward, 3);
  Play(2);
  Viewer.HdrToSdr = 1;  // the colour command: the frame again with the option
  ASSERT_EQ(LoadFrame(), 0);
  Play(2);
  Viewer.Bt709 = 1;
  Press(KeyStepBack, 1);
  Play(2);
  // Another sequence mid-play, then a movie: its frames lie in one file.
  ASSERT_EQ(Open(PlanarFrames(planar)), "");
  Press(KeyStepForward, 2);
  Play(4);
  Viewer.ScaleShift = 3;
  ASSERT_EQ(Open(MovieFrames(movie)), "");
  Press(KeyStepBack, 1);
  Play(4);
  PlatformWaitReadAhead();  // Windows deletes no file still open
  ResetViewerState();
}

TEST(ReadAhead, AFileChangedAfterItWasReadAheadIsReadAsItIsNow) {
  ResetViewerState();
  BuildColourTables();
  TestDir dir;
  Prepare(kW, kH, 0);
  ASSERT_EQ(Open(DpxFrames(dir)), "");
  Press(KeyStepForward, 1);
  bool rebuilt = false;
  ASSERT_EQ(PlaybackTick(rebuilt), 0);  // frame 3 shown, 4 read ahead
  PlatformWaitReadAhead();
  // Frame 4 cut inside row 5: the rows from there on black, as a load alone shows it.
  std::filesystem::resize_file(dir / "shot_0004.dpx", 2048 + 5 * kW * 6 + 20);
  ASSERT_EQ(PlaybackTick(rebuilt), 0);
  PlatformWaitReadAhead();
  const std::vector<uint8_t> shown = Bitmap();
  FillBitmap(kMark);
  ASSERT_EQ(LoadFrame(), 0);
  EXPECT_TRUE(Bitmap() == shown);
  // Frame 0, read ahead by that tick, gone before its own: the load fails, the picture is black.
  ASSERT_TRUE(std::filesystem::remove(dir / "shot_0000.dpx"));
  EXPECT_EQ(PlaybackTick(rebuilt), -1);
  EXPECT_TRUE(Bitmap() == std::vector<uint8_t>(shown.size(), 0));
  ResetViewerState();
}

}  // namespace
