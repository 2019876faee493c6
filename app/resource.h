// Ids shared by the resource script and the window code. windres's C preprocessor reads this
// file too, so it holds only #define lines.
#pragma once

#define IDM_OPEN 101
#define IDM_EXIT 102
#define IDM_BT709 103
#define IDM_HDR_TO_SDR 104
#define IDM_SIZE_ORIGINAL 201  // the checked size is IDM_SIZE_ORIGINAL + ScaleShift
#define IDM_SIZE_HALF 202
#define IDM_SIZE_QUARTER 203
#define IDM_SIZE_EIGHTH 204
#define IDM_ABOUT 901
#define IDC_STATUS_BAR 1
// The About dialog's controls need no ids: its texts are -1, its button IDOK.
