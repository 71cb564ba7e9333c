// The identifiers of the program's resources and of the main window's
// controls, as the dialog templates and icons of this folder carry them.
#pragma once

#include "platform/types.h"

// Dialog templates (RT_DIALOG).
inline constexpr WORD IDD_MAIN_PORTRAIT = 105;
inline constexpr WORD IDD_MAIN_LANDSCAPE = 106;
inline constexpr WORD IDD_ABOUT = 107;

// Icons (RT_GROUP_ICON).
inline constexpr WORD IDI_PROGRAM = 101;   // 32 x 32, shown in the About box
inline constexpr WORD IDI_TRAY = 103;      // 16 x 16, the notification tray's

// The main window's controls.
inline constexpr WORD IDC_INPUT_PORT = 1002;     // combo box: the input port, listed or typed
inline constexpr WORD IDC_BAUD = 1004;           // combo box: the baud rates
inline constexpr WORD IDC_OUTPUT_LIST = 1006;    // list box: the chosen outputs
inline constexpr WORD IDC_FREE_OUTPUTS = 1007;   // combo box: the outputs that can still be chosen
inline constexpr WORD IDC_ADD = 1008;
inline constexpr WORD IDC_DELETE = 1009;
inline constexpr WORD IDC_START_STOP = 1010;
inline constexpr WORD IDC_ABOUT = 1016;
inline constexpr WORD IDC_AUTOSTART = 1017;      // check box
inline constexpr WORD IDC_RECONNECT = 1018;      // check box: a lost input is waited for, not the end of the run
inline constexpr WORD IDC_EXIT = 2;              // IDCANCEL: ends the program

// A control that is never addressed: labels, group boxes, the About icon.
inline constexpr WORD IDC_STATIC = 0xFFFF;
