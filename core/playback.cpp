#include "core/playback.h"

#include "core/viewer_state.h"
#include "platform/read_queue.h"

namespace {
constexpr uint32_t kVirtualKeyLeft = 0x25;
constexpr uint32_t kVirtualKeyRight = 0x27;
constexpr uint32_t kVirtualKeyQ = 0x51;
}  // namespace

PlaybackKey ClassifyKey(uint32_t virtualKey) {
  switch (virtualKey) {
    case kVirtualKeyLeft:
      return KeyStepBack;
    case kVirtualKeyRight:
      return KeyStepForward;
    case kVirtualKeyQ:
      return KeyQuit;
    default:
      return KeyStop;
  }
}

bool PressPlaybackKey(PlaybackKey key) {
  int32_t& step = Viewer.PlaybackStep;
  const int32_t before = step;
  if (key == KeyStepBack && step > -kMaxPlaybackStep) {
    --step;
  } else if (key == KeyStepForward && step < kMaxPlaybackStep) {
    ++step;
  } else if (key != KeyStepBack && key != KeyStepForward) {
    step = 0;
  }
  if (Viewer.FrameCount == 0) step = 0;
  // What was read ahead is for the frame the old step would have shown next.
  if (step != before) PlatformDropReadAhead();
  return step != 0;
}

int32_t NextFrameIndex(int32_t current, int32_t step, int32_t frameCount) {
  const int64_t next = int64_t(current) + step;
  if (next < 0) return frameCount - 1;
  if (next >= frameCount) return 0;
  return int32_t(next);
}
