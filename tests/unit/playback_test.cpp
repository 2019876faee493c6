// Playback against naive models: every key from every step, every tick, every frame key; and
// the name part of the status bar.
#include "core/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "core/frame_status.h"
#include "core/viewer_state.h"

namespace {

// A tick walks the step one frame at a time; a walk that leaves the sequence lands on the far end.
int32_t WalkedTick(int32_t current, int32_t step, int32_t frames) {
  for (int32_t left = std::abs(step); left > 0; --left) {
    current += step < 0 ? -1 : 1;
    if (current < 0 || current >= frames) return current < 0 ? frames - 1 : 0;
  }
  return current;
}

TEST(Playback, KeysAndTicksDoWhatTheModelSays) {
  for (int32_t frames = 0; frames <= 12; ++frames) {
    for (int32_t step = -10; step <= 10; ++step) {
      // The arrows move the step by one within -10..+10, other keys and nothing open stop it;
      // the timer runs while it is not 0.
      for (const PlaybackKey key : {KeyStepBack, KeyStepForward, KeyQuit, KeyStop, KeyFrameBack,
                                    KeyFrameForward, KeyFirstFrame, KeyLastFrame}) {
        Viewer.FrameCount = frames;
        Viewer.PlaybackStep = step;
        int32_t want = key == KeyStepBack ? std::max(step - 1, -10) : std::min(step + 1, 10);
        if (frames == 0 || (key != KeyStepBack && key != KeyStepForward)) want = 0;
        EXPECT_EQ(PressPlaybackKey(key), want != 0) << frames << " " << step << " " << key;
        EXPECT_EQ(Viewer.PlaybackStep, want) << frames << " " << step << " " << key;
      }
      for (int32_t current = 0; current < frames; ++current) {
        EXPECT_EQ(NextFrameIndex(current, step, frames), WalkedTick(current, step, frames))
            << current << "+" << step << " of " << frames;
      }
    }
  }
  ResetViewerState();
}

// Past either end a tick jumps to the far end, never wraps by the remainder.
TEST(Playback, TickWrapsToTheFarEnd) {
  const struct {
    const char* Name;
    int32_t Current, Step, Frames, Want;
  } rows[] = {
      {"past the last by 1 of 3", 8, 3, 10, 0},
      {"before the first by 2 of 3", 1, -3, 10, 9},
      {"back 5 from the third", 2, -5, 10, 9},
      {"on 5 from the third-last", 7, 5, 10, 0},
      {"nothing open: the load then fails quietly", 0, 0, 0, 0},
      {"no overflow past the largest index", INT32_MAX, 10, 5, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(NextFrameIndex(row.Current, row.Step, row.Frames), row.Want) << row.Name;
  }
}

// The frame keys, from each frame of short sequences: "," and "." move by one and stop at the
// ends (no wrap, unlike a tick), Home and End jump; with nothing open nothing moves.
TEST(Playback, FrameKeysStepOneAndStopAtTheEnds) {
  EXPECT_EQ(ClassifyKey(0xBE), KeyFrameForward);  // "."
  EXPECT_EQ(ClassifyKey(0xBC), KeyFrameBack);     // ","
  EXPECT_EQ(ClassifyKey(0x24), KeyFirstFrame);    // Home
  EXPECT_EQ(ClassifyKey(0x23), KeyLastFrame);     // End
  for (int32_t frames = 0; frames <= 4; ++frames) {
    for (int32_t current = 0; current < std::max(frames, 1); ++current) {
      const int32_t last = std::max(frames - 1, 0);
      const struct {
        PlaybackKey Key;
        int32_t Want;
      } rows[] = {
          {KeyFrameForward, std::min(current + 1, last)},
          {KeyFrameBack, std::max(current - 1, 0)},
          {KeyFirstFrame, 0},
          {KeyLastFrame, last},
          {KeyStop, current},
          {KeyStepForward, current},  // the arrows set a speed; the tick moves
      };
      for (const auto& row : rows) {
        EXPECT_EQ(FrameKeyIndex(row.Key, current, frames), frames == 0 ? current : row.Want)
            << frames << " " << current << " " << row.Key;
      }
    }
  }
}

// The status bar's name part: the name alone, or marked unreadable with the reason's fact; a
// reason about another file keeps that file's name; a long one is cut, never overflows.
TEST(FrameStatus, NamePartSaysWhenAndWhyTheFrameIsUnreadable) {
  const struct {
    bool Unreadable;
    const char *Reason, *Want;
    int32_t Fact;
  } rows[] = {
      {false, "", "m_0004.dpx", 0},
      {true, "", "m_0004.dpx - unreadable", 0},
      {true, "m_0004.dpx: ends at row 7", "m_0004.dpx - unreadable: ends at row 7", 12},
      {true, "m_0004.g: missing", "m_0004.dpx - unreadable: m_0004.g: missing", 10},
      {true, "m_0004.dpxx: odd", "m_0004.dpx - unreadable: m_0004.dpxx: odd", 13},
      {true, "no file named", "m_0004.dpx - unreadable: no file named", 0},
      {true, "m_0004.dpx: odd", "m_0004.dpx - unreadable: m_0004.dpx: odd", 400},  // no fact
  };
  char out[kNameStatusSize];
  for (const auto& row : rows) {
    FormatNameStatus(out, sizeof out, "m_0004.dpx", row.Unreadable, row.Reason, row.Fact);
    EXPECT_STREQ(out, row.Want);
  }
  const std::string name(259, 'n'), reason(319, 'r');
  FormatNameStatus(out, sizeof out, name.c_str(), true, reason.c_str(), 0);
  EXPECT_EQ(out, name + " - unreadable: " + reason);
  char small[20];
  FormatNameStatus(small, sizeof small, name.c_str(), true, reason.c_str(), 0);
  EXPECT_EQ(std::string(small), name.substr(0, 19));
}

}  // namespace
