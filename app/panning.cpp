// Looking around a picture larger than the window, as a hand tool does: the picture stays 1:1
// and moves under the pointer. Only the origin of the paint changes; nothing is decoded again.
#include "app/shell.h"
#include "core/viewer_state.h"

namespace {

POINT View = {0, 0};         // the bitmap pixel shown at the client area's top-left corner
POINT DragPointer = {0, 0};  // where the button went down, in client coordinates
POINT DragView = {0, 0};     // View then
bool Dragging = false;

// The client area above the status bar.
SIZE PictureArea(HWND hwnd) {
  RECT client;
  RECT bar;
  GetClientRect(hwnd, &client);
  GetWindowRect(Shell.StatusBar, &bar);
  return {client.right - client.left, client.bottom - client.top - (bar.bottom - bar.top)};
}

// How far the picture can move before its far edge would come inside the window: 0 when it fits.
POINT FurthestView(HWND hwnd) {
  const SIZE area = PictureArea(hwnd);
  const FrameBufferHeader& bitmap = Viewer.FrameInfo.bmiHeader;
  const LONG x = bitmap.biWidth - area.cx;
  const LONG y = bitmap.biHeight - area.cy;
  return {x > 0 ? x : 0, y > 0 ? y : 0};
}

LONG Clamp(LONG value, LONG furthest) {
  return value < 0 ? 0 : value > furthest ? furthest : value;
}

// Moves the view to (x, y), as far as the picture goes, and repaints when it moved.
void MoveView(HWND hwnd, LONG x, LONG y) {
  const POINT furthest = FurthestView(hwnd);
  const POINT moved = {Clamp(x, furthest.x), Clamp(y, furthest.y)};
  if (moved.x == View.x && moved.y == View.y) return;
  View = moved;
  RepaintWindow(hwnd);
}

// Client coordinates from a mouse message: signed, as a captured pointer may leave the window.
POINT PointerOf(LPARAM lParam) {
  return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

void OnWheel(HWND hwnd, UINT message, WPARAM wParam) {
  const int delta = static_cast<short>(HIWORD(wParam));
  const bool sideways = message == WM_MOUSEHWHEEL || (LOWORD(wParam) & MK_SHIFT) != 0;
  // A notch moves an eighth of what the window shows that way.
  const SIZE area = PictureArea(hwnd);
  const LONG extent = sideways ? area.cx : area.cy;
  const LONG by = MulDiv(extent > 8 ? extent / 8 : 1, delta, WHEEL_DELTA);
  if (message == WM_MOUSEHWHEEL) {
    MoveView(hwnd, View.x + by, View.y);  // tilted right: the view goes right
  } else if (sideways) {
    MoveView(hwnd, View.x - by, View.y);  // turned away: the view goes left, as up goes up
  } else {
    MoveView(hwnd, View.x, View.y - by);
  }
}

}  // namespace

POINT PanningOrigin(HWND hwnd) {
  // The window may have grown, or the bitmap shrunk, since the view was set.
  const POINT furthest = FurthestView(hwnd);
  View = {Clamp(View.x, furthest.x), Clamp(View.y, furthest.y)};
  return View;
}

void ResetPanning() {
  View = {0, 0};
}

void OnPanning(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN: {
      const POINT furthest = FurthestView(hwnd);
      if (furthest.x == 0 && furthest.y == 0) return;  // the whole picture is in view
      Dragging = true;
      DragPointer = PointerOf(lParam);
      DragView = PanningOrigin(hwnd);
      SetCapture(hwnd);  // the drag goes on when the pointer leaves the window
      SetCursor(LoadCursorA(nullptr, IDC_SIZEALL));
      return;
    }
    case WM_MOUSEMOVE:
      if (Dragging) {
        const POINT at = PointerOf(lParam);
        MoveView(hwnd, DragView.x - (at.x - DragPointer.x), DragView.y - (at.y - DragPointer.y));
      }
      return;
    case WM_LBUTTONUP:
      if (Dragging) ReleaseCapture();  // WM_CAPTURECHANGED ends the drag
      return;
    case WM_CAPTURECHANGED:
      Dragging = false;
      return;
    default:
      OnWheel(hwnd, message, wParam);
      return;
  }
}
