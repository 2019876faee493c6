#include "core/playback.h"

#include "core/viewer_state.h"
#include "platform/read_queue.h"

namespace {
constexpr uint32_t kVirtualKeyLeft = 0x25;
constexpr uint32_t kVirtualKeyRight = 0x27;
constexpr uint32_t kVirtualKeyQ = 0x51;
constexpr uint32_t kVirtualKeyEnd = 0x23;
constexpr uint32_t kVirtualKeyHome = 0x24;
// The keys that carry "," and "." on US and most other layouts.
constexpr uint32_t kVirtualKeyComma = 0xBC;
constexpr uint32_t kVirtualKeyPeriod = 0xBE;
}  // namespace

PlaybackKey ClassifyKey(uint32_t virtualKey) {
  switch (virtualKey) {
    case kVirtualKeyLeft:
      return KeyStepBack;
    case kVirtualKeyRight:
      return KeyStepForward;
    case kVirtualKeyQ:
      return KeyQuit;
    case kVirtualKeyComma:
      return KeyFrameBack;
    case kVirtualKeyPeriod:
      return KeyFrameForward;
    case kVirtualKeyHome:
      return KeyFirstFrame;
    case kVirtualKeyEnd:
      return KeyLastFrame;
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

int32_t FrameKeyIndex(PlaybackKey key, int32_t current, int32_t frameCount) {
  if (frameCount <= 0) return current;
  const int32_t last = frameCount - 1;
  switch (key) {
    case KeyFrameBack:
      return current <= 0 ? 0 : current > last ? last : current - 1;
    case KeyFrameForward:
      return current >= last ? last : current < 0 ? 0 : current + 1;
    case KeyFirstFrame:
      return 0;
    case KeyLastFrame:
      return last;
    default:
      return current;
  }
}
