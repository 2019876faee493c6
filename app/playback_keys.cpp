// Arrow-key playback on the main window's timer, and the keys that go to another frame.
#include "app/shell.h"
#include "core/playback.h"
#include "core/viewer_state.h"
#include "sequence/sequence.h"

namespace {
// Timer 1 of the main window, without a timer procedure: ticks arrive as WM_TIMER, and the
// system never queues more than one, so a slow decode lowers the frame rate instead of piling
// up ticks.
constexpr UINT_PTR kPlaybackTimer = 1;
constexpr UINT kPlaybackPeriodMs = 16;

// The system clock ticks every 15.6 ms by default, and a 16 ms timer rounded up to it fires
// every 31 ms: half the intended rate. While the timer runs the viewer asks for 1 ms
// resolution, and gives it back when it stops: once each, never twice.
bool HoldsFineResolution = false;

void StartPlaybackTimer(HWND hwnd) {
  SetTimer(hwnd, kPlaybackTimer, kPlaybackPeriodMs, nullptr);  // restarts a running one
  if (!HoldsFineResolution) HoldsFineResolution = timeBeginPeriod(1) == TIMERR_NOERROR;
}

}  // namespace

void StopPlaybackTimer(HWND hwnd) {
  KillTimer(hwnd, kPlaybackTimer);
  if (HoldsFineResolution) timeEndPeriod(1);
  HoldsFineResolution = false;
}

void OnKeyDown(HWND hwnd, WPARAM virtualKey) {
  const PlaybackKey key = ClassifyKey(uint32_t(virtualKey));
  if (key == KeyQuit) {
    // At once, without closing the window first.
    StopPlaybackTimer(hwnd);
    PostQuitMessage(0);
    return;
  }
  if (PressPlaybackKey(key)) {
    StartPlaybackTimer(hwnd);
  } else {
    StopPlaybackTimer(hwnd);
  }
  const int32_t frame = FrameKeyIndex(key, Viewer.CurrentFrame, Viewer.FrameCount);
  if (frame != Viewer.CurrentFrame) {
    Viewer.CurrentFrame = frame;
    LoadFrameFitted(hwnd);
    RepaintWindow(hwnd);  // the picture, its name and position, and the step
    return;
  }
  // Only the step text changes; the picture waits for the next tick.
  UpdateStepStatus();
}

void OnTimer(HWND hwnd) {
  bool rebuilt = false;
  const int32_t result = PlaybackTick(rebuilt);
  TakeLoadResult(hwnd, result, rebuilt);
  RepaintWindow(hwnd);
}
