// Ids shared by the resource script and the window code. The script is read by windres's C
// preprocessor too, so this file holds only #define lines.
#pragma once

// File menu
#define IDM_OPEN 101
#define IDM_EXIT 102

// Color menu
#define IDM_BT709 103
#define IDM_HDR_TO_SDR 104

// Size menu: the checked item is IDM_SIZE_ORIGINAL + ScaleShift.
#define IDM_SIZE_ORIGINAL 201
#define IDM_SIZE_HALF 202
#define IDM_SIZE_QUARTER 203
#define IDM_SIZE_EIGHTH 204

// Help menu
#define IDM_ABOUT 901

// The status bar child of the main window.
#define IDC_STATUS_BAR 1

// The About dialog's controls need no ids of their own: its texts are -1, its button IDOK.
