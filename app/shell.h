// The window shell: its window-system handles, kept beside the ViewerState (the core never sees
// them), and the window operations that every handler of the main window shares.
#pragma once

#include <cstdint>

#include "app/win32.h"

struct ShellState {
  HWND StatusBar;
  HMENU Menu;          // the class menu: the check marks live on it
  HINSTANCE Instance;  // for the About box's template
  // The open dialog's record, filled completely before each use. Its file-name buffer is
  // Viewer.Path, so the dialog starts on the current frame's file.
  OPENFILENAMEA OpenDialog;
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

// --- the user's half of the main window (commands.cpp, playback_keys.cpp) ---

// A menu command, by its id in the low word of wParam.
void OnCommand(HWND hwnd, WPARAM wParam);

// Opens the first of the files dropped on the window.
void OnDropFiles(HWND hwnd, HDROP drop);

// Arrow keys step, Q quits, any other key pauses.
void OnKeyDown(HWND hwnd, WPARAM virtualKey);

// One playback tick: the next frame, loaded and painted.
void OnTimer(HWND hwnd);

// Brings the bitmap and the window to the current source size and ScaleShift, stops stepping
// (a running timer goes on reloading the same frame), loads the frame and repaints.
void RefitDisplay(HWND hwnd);

// After a load, given the source size before it: a frame of another size is only measured by
// its reader, so the bitmap and the window are brought to that size (when the shifted size
// differs) and the frame is loaded again, now to be decoded. No repaint, no change of step.
void FitToLoadedFrame(HWND hwnd, int32_t widthBefore, int32_t heightBefore);

// LoadFrame of the current frame, then FitToLoadedFrame.
void LoadFrameFitted(HWND hwnd);

// Fills Shell.OpenDialog and shows the open dialog; nonzero when a file was chosen, its full
// path then in Viewer.Path.
BOOL ShowOpenDialog(HWND owner);

// The About box "ABOUTDLG": closes on OK, Enter, Esc and the close box.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
