// The Windows headers as the shell uses them. The lean form of <windows.h> leaves out
// winioctl.h, whose MEDIA_TYPE enumeration has a member named Unknown that would clash with
// SourceKind's; the shell, common-control, common-dialog and multimedia-timer declarations it
// drops are included by name.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <shellapi.h>
