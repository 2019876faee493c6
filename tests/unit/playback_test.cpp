// Arrow-key playback against a naive model: every key from every step, every tick.
#include "core/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "core/viewer_state.h"

namespace {

TEST(Playback, KeysAndTicksDoWhatTheModelSays) {
  for (int32_t frames = 0; frames <= 12; ++frames) {
    for (int32_t step = -10; step <= 10; ++step) {
      // The arrows move the step by one within -10..+10, other keys and nothing open stop it;
      // the timer runs while it is not 0.
      for (const PlaybackKey key : {KeyStepBack, KeyStepForward, KeyQuit, KeyStop}) {
        Viewer.FrameCount = frames;
        Viewer.PlaybackStep = step;
        int32_t want = key == KeyStepBack ? std::max(step - 1, -10) : std::min(step + 1, 10);
        if (frames == 0 || (key != KeyStepBack && key != KeyStepForward)) want = 0;
        EXPECT_EQ(PressPlaybackKey(key), want != 0) << frames << " " << step << " " << key;
        EXPECT_EQ(Viewer.PlaybackStep, want) << frames << " " << step << " " << key;
      }
      // A tick past the last frame shows the first, before the first the last: not by remainder.
      for (int32_t current = 0; current < frames; ++current) {
        const int32_t sum = current + step;
        const int32_t want = sum < 0 ? frames - 1 : (sum >= frames ? 0 : sum);
        EXPECT_EQ(NextFrameIndex(current, step, frames), want) << current << "+" << step;
      }
    }
  }
  EXPECT_EQ(NextFrameIndex(0, 0, 0), 0);           // nothing open: the load then fails quietly
  EXPECT_EQ(NextFrameIndex(INT32_MAX, 10, 5), 0);  // no overflow on the way
  ResetViewerState();
}

}  // namespace
