// The main dialog: input port, baud rate and outputs, Start/Stop, About, Status,
// Autostart, Exit, and the OK button in its caption that hides it to the tray.
// An output's settings open with Set beside the outputs or a double tap on it.
#pragma once

#include "platform/types.h"

BOOL MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void FillBaudList(HWND dialog);
// Moves the chosen free port into the outputs, after probing it once more.
void AddOutput(HWND dialog);
// Moves the chosen output back to the end of the free ports.
void DeleteOutput(HWND dialog);
// With the gpsd hand-off on, marks the output that gpsd is given ("COM2: gpsd").
void ShowGpsdOutput(HWND dialog);
// Writes the output list anew, each output marked as ShowGpsdOutput does.
void ShowOutputList(HWND dialog);
// Starts relaying with the window's choices, or stops it.
void ToggleRelay(HWND dialog);
