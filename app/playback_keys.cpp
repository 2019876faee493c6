// Arrow-key playback on the main window's timer.
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
}  // namespace

void OnKeyDown(HWND hwnd, WPARAM virtualKey) {
  const PlaybackKey key = ClassifyKey(uint32_t(virtualKey));
  if (key == KeyQuit) {
    // At once, without closing the window first.
    PostQuitMessage(0);
    return;
  }
  if (PressPlaybackKey(key)) {
    SetTimer(hwnd, kPlaybackTimer, kPlaybackPeriodMs, nullptr);  // restarts a running one
  } else {
    KillTimer(hwnd, kPlaybackTimer);
  }
  // Only the step text changes; the picture waits for the next tick.
  UpdateStepStatus();
}

void OnTimer(HWND hwnd) {
  bool rebuilt = false;
  PlaybackTick(rebuilt);
  if (rebuilt) FitWindowToFrameBuffer(hwnd);
  RepaintWindow(hwnd);
}
