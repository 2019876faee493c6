// The window shell: its window-system handles, kept beside the ViewerState (the core never sees
// them), and the window operations that every handler of the main window shares.
#pragma once

#include <cstdint>

#include "app/win32.h"

struct ShellState {
  HWND StatusBar;
  HMENU Menu;                // the class menu: the check marks live on it
  HINSTANCE Instance;        // for the About box's template
  UINT Dpi;                  // the window's: 96 at 100 % display scaling, 144 at 150 %
  HFONT StatusFont;          // the system's status font at that DPI
  OPENFILENAMEA OpenDialog;  // filled completely before each use
  bool FrameUnreadable;      // the picture is black and the status names the frame unreadable
};

extern ShellState Shell;

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The client area holds the bitmap above the status bar; the window keeps its place.
void FitWindowToFrameBuffer(HWND hwnd);

// On creation or a move to a monitor of another scaling: the status font, then the fit.
void SetWindowDpi(HWND hwnd, UINT dpi);
UINT QueryWindowDpi(HWND hwnd);  // per window on Windows 10, else the system's
int ScaleToDpi(int length);      // a length at 96 DPI

// Client rectangle to window rectangle, with a one-row menu bar, at the window's DPI.
void AdjustFrameRect(RECT* rect, DWORD style);

// Lowers the least window width, which grows with the DPI, to what a 1/8 picture needs.
void AllowFittedWidth(MINMAXINFO* limits);

void RepaintWindow(HWND hwnd);  // no erase first: the picture covers the client area
void UpdateStepStatus();        // "Step: +3", "Step: 0", "Step: -3" in status part 2

// The user's half of the main window (commands.cpp, playback_keys.cpp).
void OnCommand(HWND hwnd, WPARAM wParam);
void OnDropFiles(HWND hwnd, HDROP drop);  // the first file dropped opens
void OnKeyDown(HWND hwnd, WPARAM virtualKey);
void OnTimer(HWND hwnd);

// Every way that stops playback comes here, so the fine timer resolution is always given back.
void StopPlaybackTimer(HWND hwnd);

// Brings the bitmap and the window to the current source size and ScaleShift, stops stepping
// (a running timer goes on reloading the same frame), loads the frame and repaints.
void RefitDisplay(HWND hwnd);

// Shows the current frame, fitting the window when the bitmap was rebuilt for another size; no
// repaint, no change of step.
void LoadFrameFitted(HWND hwnd);
// The name marked when unreadable; on a rebuilt bitmap the view back at the top-left, refitted.
void TakeLoadResult(HWND hwnd, int32_t result, bool rebuilt);

// Panning a picture larger than the window (panning.cpp): the bitmap pixel at the client's
// top-left, never so far that the picture ends inside the window.
POINT PanningOrigin(HWND hwnd);
void ResetPanning();
void OnPanning(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);  // drag, wheel, tilt

// Starts on the name in `file`; nonzero when a file was chosen, its full path then in `file`.
BOOL ShowOpenDialog(HWND owner, char* file, DWORD fileSize);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
