// The main window: creation, sizing, painting and destruction, and the window operations the
// command handlers reuse. Commands, drops, keys and ticks are handled in commands.cpp and
// playback_keys.cpp.
#include <cstddef>

#include "app/resource.h"
#include "app/shell.h"
#include "core/frame_status.h"
#include "core/viewer_state.h"

ShellState Shell;

// The core keeps the bitmap header in its own copy of BITMAPINFO's layout.
static_assert(sizeof(FrameBufferInfo) == sizeof(BITMAPINFO), "FrameInfo must be a BITMAPINFO");
static_assert(offsetof(FrameBufferInfo, bmiColors) == offsetof(BITMAPINFO, bmiColors),
              "FrameInfo must be a BITMAPINFO");

namespace {

// Right edges of the status parts, counted back from the status bar's width: the file name
// gets all but the last 250 pixels, the frame position 140 and the step the last 110, at 96 DPI;
// they grow with the DPI as the status font does.
constexpr int kFramePartFromRight = 250;
constexpr int kStepPartFromRight = 110;

void SetStatusText(int part, const char* text) {
  SendMessageA(Shell.StatusBar, SB_SETTEXTA, static_cast<WPARAM>(part),
               reinterpret_cast<LPARAM>(text));
}

void OnCreate(HWND hwnd, const CREATESTRUCTA* create) {
  // The placeholder text stands in the one part of the new bar until the first WM_SIZE
  // divides it and the first paint fills the three parts.
  Shell.StatusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP, "hoge",
                                        hwnd, IDC_STATUS_BAR);
  SetWindowDpi(hwnd, QueryWindowDpi(hwnd));  // the status font, then the fit
  Shell.Menu = GetMenu(hwnd);
  Shell.Instance = create->hInstance;
}

void OnSize(WPARAM wParam, LPARAM lParam) {
  // The status bar places itself along the bottom edge when it sees its parent's WM_SIZE.
  SendMessageA(Shell.StatusBar, WM_SIZE, wParam, lParam);
  RECT bar;
  GetWindowRect(Shell.StatusBar, &bar);
  const int width = bar.right - bar.left;
  int edges[3] = {width - ScaleToDpi(kFramePartFromRight), width - ScaleToDpi(kStepPartFromRight),
                  -1};
  SendMessageA(Shell.StatusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
}

// Moved to a monitor with another scaling: the rectangle Windows suggests is the old one scaled,
// which would stretch the client area; the window goes to its place, and the client area stays
// the bitmap's size.
void OnDpiChanged(HWND hwnd, WPARAM wParam, const RECT* suggested) {
  SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowDpi(hwnd, LOWORD(wParam));
}

void OnPaint(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  // The whole bitmap, 1:1, its panning origin at the top-left corner, whatever the update
  // region: the readers already reduced it. A failed rebuild leaves no pixels to copy.
  const FrameBufferHeader& bitmap = Viewer.FrameInfo.bmiHeader;
  if (Viewer.FramePixels != nullptr) {
    const POINT origin = PanningOrigin(hwnd);
    SetDIBitsToDevice(dc, -origin.x, -origin.y, static_cast<DWORD>(bitmap.biWidth),
                      static_cast<DWORD>(bitmap.biHeight), 0, 0, 0,
                      static_cast<UINT>(bitmap.biHeight), Viewer.FramePixels,
                      reinterpret_cast<const BITMAPINFO*>(&Viewer.FrameInfo), DIB_RGB_COLORS);
  }
  char name[kNameStatusSize];
  FormatNameStatus(name, sizeof name, Viewer.Path + Viewer.NamePart, Shell.FrameUnreadable,
                   Viewer.Reason, Viewer.ReasonFact);
  SetStatusText(0, name);
  wsprintfA(Viewer.Scratch, "Frame: %d/%d", Viewer.CurrentFrame, Viewer.FrameCount);
  SetStatusText(1, Viewer.Scratch);
  UpdateStepStatus();
  EndPaint(hwnd, &paint);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(hwnd, reinterpret_cast<const CREATESTRUCTA*>(lParam));
      break;
    case WM_SIZE:
      OnSize(wParam, lParam);
      break;
    case WM_PAINT:
      OnPaint(hwnd);
      break;
    case WM_GETMINMAXINFO:
      AllowFittedWidth(reinterpret_cast<MINMAXINFO*>(lParam));
      break;
    case WM_DPICHANGED:
      OnDpiChanged(hwnd, wParam, reinterpret_cast<const RECT*>(lParam));
      break;
    case WM_DESTROY:
      StopPlaybackTimer(hwnd);
      PostQuitMessage(0);
      break;
    case WM_COMMAND:
      OnCommand(hwnd, wParam);
      break;
    case WM_DROPFILES:
      OnDropFiles(hwnd, reinterpret_cast<HDROP>(wParam));
      break;
    case WM_KEYDOWN:
      OnKeyDown(hwnd, wParam);
      break;
    case WM_TIMER:
      OnTimer(hwnd);
      break;
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      OnPanning(hwnd, message, wParam, lParam);
      break;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  return 0;  // every message handled here
}

void FitWindowToFrameBuffer(HWND hwnd) {
  const FrameBufferHeader& bitmap = Viewer.FrameInfo.bmiHeader;
  RECT bar;
  GetWindowRect(Shell.StatusBar, &bar);
  RECT outer;
  SetRect(&outer, 0, 0, bitmap.biWidth, bitmap.biHeight);
  AdjustFrameRect(&outer, WS_OVERLAPPEDWINDOW);
  SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left,
               outer.bottom - outer.top + (bar.bottom - bar.top), SWP_NOMOVE | SWP_NOZORDER);
  if (IsIconic(hwnd)) return;  // nothing to measure; the next fit corrects
  // The guess holds a menu bar of one row and the bar's height before its font changed; a
  // narrow window at a large scaling wraps the menu onto two rows. What the window now has is
  // measured and the difference made good, so every bitmap row shows above the status bar.
  for (int pass = 0; pass < 2; ++pass) {
    RECT client;
    RECT window;
    GetClientRect(hwnd, &client);
    GetWindowRect(Shell.StatusBar, &bar);
    GetWindowRect(hwnd, &window);
    const int wider = bitmap.biWidth - client.right;
    const int taller = bitmap.biHeight + (bar.bottom - bar.top) - client.bottom;
    if (wider == 0 && taller == 0) break;
    SetWindowPos(hwnd, nullptr, 0, 0, window.right - window.left + wider,
                 window.bottom - window.top + taller, SWP_NOMOVE | SWP_NOZORDER);
  }
}

void RepaintWindow(HWND hwnd) {
  InvalidateRect(hwnd, nullptr, FALSE);
  UpdateWindow(hwnd);
}

void UpdateStepStatus() {
  const int32_t step = Viewer.PlaybackStep;
  wsprintfA(Viewer.Scratch, "Step: %s%d", step > 0 ? "+" : "", step);
  SetStatusText(2, Viewer.Scratch);
}
