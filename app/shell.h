// The window shell: its window-system handles, kept beside the ViewerState (the core never sees
// them), and the window operations that every handler of the main window shares.
#pragma once

#include <cstdint>

#include "app/win32.h"

struct ShellState {
  HWND StatusBar;
  HMENU Menu;          // the class menu: the check marks live on it
  HINSTANCE Instance;  // for the About box's template
  UINT Dpi;            // the window's: 96 at 100 % display scaling, 144 at 150 %
  HFONT StatusFont;    // the system's status font at that DPI
  // The open dialog's record, filled completely before each use.
  OPENFILENAMEA OpenDialog;
  // The frame named could not be read: its picture is black and its name says so.
  bool FrameUnreadable;
};

extern ShellState Shell;

// The one window procedure of the viewer.
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Sizes the main window so that its client area holds the bitmap above the status bar; the
// window keeps its place.
void FitWindowToFrameBuffer(HWND hwnd);

// The window's DPI changed (created, or moved to a monitor with another scaling): the status
// bar takes the font for it, and the window is fitted to the bitmap again.
void SetWindowDpi(HWND hwnd, UINT dpi);

// The window's DPI as the system has it: per window on Windows 10, else the system's.
UINT QueryWindowDpi(HWND hwnd);

// A length given at 96 DPI, at the window's DPI.
int ScaleToDpi(int length);

// Grows a client rectangle to the outer one of a window of this style with a one-row menu bar,
// at the window's DPI.
void AdjustFrameRect(RECT* rect, DWORD style);

// Lowers the smallest width the system allows the window, which grows with the DPI, to what a
// narrow bitmap needs: at 200 % and more it passes a 1/8 picture's 240 pixels and its frame.
void AllowFittedWidth(MINMAXINFO* limits);

// Repaints the picture and the status texts at once, without erasing the background first.
void RepaintWindow(HWND hwnd);

// Shows PlaybackStep in status part 2: "Step: +3", "Step: 0", "Step: -3".
void UpdateStepStatus();

// --- the user's half of the main window (commands.cpp, playback_keys.cpp) ---

// A menu command, by its id in the low word of wParam.
void OnCommand(HWND hwnd, WPARAM wParam);

// Opens the first of the files dropped on the window.
void OnDropFiles(HWND hwnd, HDROP drop);

// Arrow keys set the step, the frame keys go to another frame, Q quits, any other key pauses.
void OnKeyDown(HWND hwnd, WPARAM virtualKey);

// One playback tick: the next frame, loaded and painted.
void OnTimer(HWND hwnd);

// Stops the playback timer and gives back the fine timer resolution it held. Every way that
// stops playback goes through here: keys, quitting, closing the window.
void StopPlaybackTimer(HWND hwnd);

// Brings the bitmap and the window to the current source size and ScaleShift, stops stepping
// (a running timer goes on reloading the same frame), loads the frame and repaints.
void RefitDisplay(HWND hwnd);

// Shows the current frame (ShowFrame) and fits the window when the bitmap was rebuilt for a
// frame of another size. No repaint, no change of step.
void LoadFrameFitted(HWND hwnd);

// What a load's result means for the window: the name marked when the frame could not be read,
// the view back at the top-left and the window fitted when the bitmap was rebuilt.
void TakeLoadResult(HWND hwnd, int32_t result, bool rebuilt);

// --- panning a picture larger than the window (panning.cpp) ---

// The bitmap pixel at the top-left corner of the client area: (0, 0) unless the picture is
// larger than the window and was moved, and never so far that the picture ends inside it.
POINT PanningOrigin(HWND hwnd);

// Back to the top-left corner of the picture, as after an open or a new size.
void ResetPanning();

// Dragging with the left button moves the picture with the pointer; the wheel scrolls it,
// sideways with Shift or a tilt.
void OnPanning(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Fills Shell.OpenDialog and shows the open dialog, starting on the name in `file`; nonzero
// when a file was chosen, its full path then in `file`.
BOOL ShowOpenDialog(HWND owner, char* file, DWORD fileSize);

// The About box "ABOUTDLG": closes on OK, Enter, Esc and the close box.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
