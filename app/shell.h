// The window shell: its window-system handles, kept beside the ViewerState (the core never sees
// them), and the window operations that every handler of the main window shares.
#pragma once

#include "app/win32.h"

struct ShellState {
  HWND StatusBar;
  HMENU Menu;          // the class menu: the check marks live on it
  HINSTANCE Instance;  // for the About box's template
};

extern ShellState Shell;

// The one window procedure of the viewer.
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Sizes the main window so that its client area holds the bitmap above the status bar; the
// window keeps its place.
void FitWindowToFrameBuffer(HWND hwnd);

// Repaints the picture and the status texts at once, without erasing the background first.
void RepaintWindow(HWND hwnd);

// Shows PlaybackStep in status part 2: "Step: +3", "Step: 0", "Step: -3".
void UpdateStepStatus();
