// Arrow-key playback: the step, the timer and the wrap at either end.
#include <gtest/gtest.h>

#include <vector>

#include "core/playback.h"
#include "core/viewer_state.h"

namespace {

struct Press {
  PlaybackKey key;
  int32_t step;  // after the key
  bool timer;
};

void Play(int32_t frameCount, int32_t startStep, const std::vector<Press>& presses) {
  ResetViewerState();
  Viewer.FrameCount = frameCount;
  Viewer.PlaybackStep = startStep;
  int n = 0;
  for (const Press& p : presses) {
    SCOPED_TRACE(testing::Message() << "press " << ++n);
    EXPECT_EQ(PressPlaybackKey(p.key), p.timer);
    EXPECT_EQ(Viewer.PlaybackStep, p.step);
  }
}

TEST(Playback, ElevenRightPressesReachPlusTenAndStayThere) {
  std::vector<Press> presses;
  for (int32_t i = 1; i <= 11; ++i) presses.push_back({KeyStepForward, i > 10 ? 10 : i, true});
  Play(100, 0, presses);
}

TEST(Playback, StepStaysWithinMinusTenAndPlusTen) {
  Play(100, -10, {{KeyStepBack, -10, true}, {KeyStepForward, -9, true}});
  Play(100, 10, {{KeyStepForward, 10, true}, {KeyStepBack, 9, true}});
}

TEST(Playback, BackToZeroOrAnyOtherKeyStops) {
  Play(100, 1, {{KeyStepBack, 0, false}, {KeyStepBack, -1, true}, {KeyStepForward, 0, false}});
  Play(100, 7, {{KeyStop, 0, false}});
  Play(100, -4, {{KeyStop, 0, false}, {KeyStop, 0, false}});
}

TEST(Playback, NothingOpenKeepsTheStepAtZero) {
  Play(0, 0, {{KeyStepForward, 0, false}, {KeyStepBack, 0, false}, {KeyStop, 0, false}});
  Play(0, 3, {{KeyStepForward, 0, false}});  // a stale step is cleared too
}

TEST(Playback, KeysByVirtualKeyCode) {
  EXPECT_EQ(ClassifyKey(0x25), KeyStepBack);     // left arrow
  EXPECT_EQ(ClassifyKey(0x27), KeyStepForward);  // right arrow
  EXPECT_EQ(ClassifyKey(0x51), KeyQuit);         // Q
  for (uint32_t other : {0x20u, 0x10u, 0x26u, 0x28u, 0x71u, 0x1Bu}) {
    EXPECT_EQ(ClassifyKey(other), KeyStop) << other;  // space, shift, up, down, q's char code, esc
  }
}

// A naive model of the tick: add, and past either end jump to the far end.
TEST(Playback, TickWrapsToTheFarEnd) {
  struct Case {
    int32_t current, step, count, next;
  } const cases[] = {
      {8, 3, 10, 0},   // past the end: to the first frame, not to 1
      {1, -3, 10, 9},  // before the start: to the last frame, not to 8
      {2, -5, 10, 9},         {7, 5, 10, 0},  {5, 0, 10, 5},  // holding: the same frame again
      {0, 0, 0, 0},  // nothing open: index 0, the load then fails quietly
      {9, 1, 10, 0},          {0, -1, 10, 9}, {4, 10, 1, 0},
      {2147483647, 10, 5, 0},  // no overflow on the way
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NextFrameIndex(c.current, c.step, c.count), c.next)
        << c.current << " + " << c.step << " of " << c.count;
  }
}

}  // namespace
