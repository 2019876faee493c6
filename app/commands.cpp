// Menu commands, the open dialog, dropped files, and the refit that follows a change of size.
#include <cstring>
#include <vector>

#include "app/resource.h"
#include "app/shell.h"
#include "core/frame_buffer.h"
#include "core/reasons.h"
#include "core/viewer_state.h"
#include "sequence/sequence.h"

// The record sizes that the system checks: the full open-dialog record with its three trailing
// reserved members, and the menu-item record up to hbmpItem.
static_assert(sizeof(OPENFILENAMEA) == 88, "the open dialog takes the full 88-byte record");
static_assert(sizeof(MENUITEMINFOA) == 48, "the menu takes the 48-byte item record");

namespace {

// Two description and pattern pairs, each string ended by a zero byte, and the empty string
// that ends the list (the literal's own terminator).
constexpr char kOpenFilter[] =
    "DPX/MOV/RGB Files (*.dpx, *.mov, *.[rgb])\0*.dpx;*.mov;*.r;*.g;*.b\0"
    "All Files (*.*)\0*.*\0";

// OFN_READONLY | OFN_FILEMUSTEXIST: the viewer never writes, and only an existing file opens.
constexpr DWORD kOpenFlags = OFN_READONLY | OFN_FILEMUSTEXIST;
static_assert(kOpenFlags == 0x1001, "read-only, existing files");

void SetCheckMark(UINT commandId, bool checked) {
  MENUITEMINFOA item = {};
  item.cbSize = sizeof item;
  item.fMask = MIIM_STATE;
  item.fState = checked ? MFS_CHECKED : MFS_UNCHECKED;
  SetMenuItemInfoA(Shell.Menu, commandId, FALSE, &item);
}

// Opens a path from the command line, a drop or the open dialog and shows its frame.
void OpenAndShow(HWND hwnd, const char* path) {
  // A failed open has said so in its box; its picture is black and its frame count 0.
  Shell.FrameUnreadable = false;
  ResetPanning();
  if (OpenPath(path)) FitWindowToFrameBuffer(hwnd);
  RepaintWindow(hwnd);
}

// The open dialog has a buffer of its own: when the chosen name does not fit, the dialog fails
// and writes the size it needs into that buffer, which must not damage the open sequence's
// path. Only a cancel is silent; any other failure is a file that cannot be opened.
void OpenFromDialog(HWND hwnd) {
  char chosen[kPathBufferSize];
  std::memcpy(chosen, Viewer.Path, sizeof chosen);
  if (ShowOpenDialog(hwnd, chosen, sizeof chosen)) {
    OpenAndShow(hwnd, chosen);
  } else if (CommDlgExtendedError() != 0) {
    ClearReason();  // the reason of an earlier open is not this one's
    FailOpen(kCantOpenMessage);
    Shell.FrameUnreadable = false;
    RepaintWindow(hwnd);
  }
}

void ToggleColourOption(HWND hwnd, int32_t& flag, UINT commandId) {
  flag = flag != 0 ? 0 : 1;
  SetCheckMark(commandId, flag != 0);
  // With nothing open the load fails quietly and only the check mark changes.
  LoadFrameFitted(hwnd);
  RepaintWindow(hwnd);
}

void ChooseSize(HWND hwnd, UINT commandId) {
  SetCheckMark(IDM_SIZE_ORIGINAL + UINT(Viewer.ScaleShift), false);
  SetCheckMark(commandId, true);
  Viewer.ScaleShift = int32_t(commandId - IDM_SIZE_ORIGINAL);
  // Also for the size already shown: the user gets a fresh bitmap, a fitted window and step 0.
  RefitDisplay(hwnd);
}

}  // namespace

void OnCommand(HWND hwnd, WPARAM wParam) {
  const UINT id = LOWORD(wParam);
  switch (id) {
    case IDM_OPEN:
      OpenFromDialog(hwnd);
      return;
    case IDM_EXIT:
      SendMessageA(hwnd, WM_CLOSE, 0, 0);
      return;
    case IDM_BT709:
      ToggleColourOption(hwnd, Viewer.Bt709, id);
      return;
    case IDM_HDR_TO_SDR:
      ToggleColourOption(hwnd, Viewer.HdrToSdr, id);
      return;
    case IDM_SIZE_ORIGINAL:
    case IDM_SIZE_HALF:
    case IDM_SIZE_QUARTER:
    case IDM_SIZE_EIGHTH:
      ChooseSize(hwnd, id);
      return;
    case IDM_ABOUT:
      DialogBoxParamA(Shell.Instance, "ABOUTDLG", hwnd, AboutDialogProc, 0);
      RepaintWindow(hwnd);
      return;
    default:
      MessageBeep(0);
      return;
  }
}

BOOL ShowOpenDialog(HWND owner, char* file, DWORD fileSize) {
  OPENFILENAMEA& dialog = Shell.OpenDialog;
  std::memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kOpenFilter;
  dialog.lpstrFile = file;
  dialog.nMaxFile = fileSize;
  dialog.Flags = kOpenFlags;
  return GetOpenFileNameA(&dialog);
}

void OnDropFiles(HWND hwnd, HDROP drop) {
  // Only the first file counts. It is taken whole, however long: the intake refuses a name too
  // long for the path buffer, and the refusal names the file as it is, not cut short.
  std::vector<char> dropped(DragQueryFileA(drop, 0, nullptr, 0) + 1, '\0');
  DragQueryFileA(drop, 0, dropped.data(), UINT(dropped.size()));
  DragFinish(drop);
  OpenAndShow(hwnd, dropped.data());
}

void RefitDisplay(HWND hwnd) {
  ResetFrameBuffer();
  ResetPanning();
  FitWindowToFrameBuffer(hwnd);
  Viewer.PlaybackStep = 0;  // the timer is left alone: it goes on reloading this frame
  LoadFrameFitted(hwnd);
  RepaintWindow(hwnd);
}

void LoadFrameFitted(HWND hwnd) {
  bool rebuilt = false;
  const int32_t result = ShowFrame(rebuilt);
  TakeLoadResult(hwnd, result, rebuilt);
}

void TakeLoadResult(HWND hwnd, int32_t result, bool rebuilt) {
  // Only a frame there was to read is marked: with nothing open a load fails quietly.
  Shell.FrameUnreadable = result != 0 && Viewer.FrameCount > 0;
  // Frames of one sequence may differ in size; playback goes on at the new size.
  if (rebuilt) {
    ResetPanning();
    FitWindowToFrameBuffer(hwnd);
  }
}
