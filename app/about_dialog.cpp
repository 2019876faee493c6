// The About box: a modal dialog from the "ABOUTDLG" template, with nothing to set up.
#include "app/shell.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  // Every other message, WM_INITDIALOG included, is the dialog manager's.
  if (message != WM_COMMAND) return FALSE;
  // The OK button and Enter send IDOK; Esc and the close box send IDCANCEL.
  const UINT id = LOWORD(wParam);
  if (id == IDOK || id == IDCANCEL) EndDialog(dialog, 0);
  return TRUE;
}
