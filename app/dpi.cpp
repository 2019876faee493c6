// Display scaling. The manifest makes the viewer per-monitor DPI aware, so Windows never
// stretches its window: the picture reaches the screen 1:1 at any scaling, the window is sized
// in physical pixels, and the status bar is scaled by the viewer. The calls that take a DPI exist
// only on Windows 10 and are looked up at run time: on Windows 7 and 8.1 the exe still starts,
// with the system's metrics.
#include "app/shell.h"
#include "core/viewer_state.h"

namespace {

constexpr UINT kDefaultDpi = 96;

using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiCall = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiCall = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);

// GetProcAddress hands back a generic pointer; the call's own type is the documented one.
template <typename Call>
Call LookUp(const char* name) {
  return reinterpret_cast<Call>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

}  // namespace

UINT QueryWindowDpi(HWND hwnd) {
  static const auto getDpiForWindow = LookUp<GetDpiForWindowCall>("GetDpiForWindow");
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? UINT(dpi) : kDefaultDpi;
}

int ScaleToDpi(int length) {
  return MulDiv(length, int(Shell.Dpi != 0 ? Shell.Dpi : kDefaultDpi), int(kDefaultDpi));
}

void AdjustFrameRect(RECT* rect, DWORD style) {
  static const auto adjustForDpi = LookUp<AdjustWindowRectExForDpiCall>("AdjustWindowRectExForDpi");
  if (adjustForDpi == nullptr || !adjustForDpi(rect, style, TRUE, 0, Shell.Dpi)) {
    AdjustWindowRectEx(rect, style, TRUE, 0);
  }
}

void AllowFittedWidth(MINMAXINFO* limits) {
  RECT outer;
  SetRect(&outer, 0, 0, Viewer.FrameInfo.bmiHeader.biWidth, 1);
  AdjustFrameRect(&outer, WS_OVERLAPPEDWINDOW);
  if (outer.right - outer.left < limits->ptMinTrackSize.x) {
    limits->ptMinTrackSize.x = outer.right - outer.left;
  }
}

void SetWindowDpi(HWND hwnd, UINT dpi) {
  static const auto parametersForDpi =
      LookUp<SystemParametersInfoForDpiCall>("SystemParametersInfoForDpi");
  Shell.Dpi = dpi;
  // The call for a DPI takes the wide record only.
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  const bool found =
      parametersForDpi != nullptr
          ? parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != 0
          : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) != 0;
  HFONT font = found ? CreateFontIndirectW(&metrics.lfStatusFont) : nullptr;
  if (font != nullptr) {
    // The bar takes its height from the font at a WM_SIZE: the fit must measure the new one.
    SendMessageA(Shell.StatusBar, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageA(Shell.StatusBar, WM_SIZE, 0, 0);
    if (Shell.StatusFont != nullptr) DeleteObject(Shell.StatusFont);
    Shell.StatusFont = font;
  }
  FitWindowToFrameBuffer(hwnd);
}
