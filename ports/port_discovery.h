// The device's own serial ports, listed from the drivers loaded at boot, as
// the choices of the input port box.
#pragma once

#include "platform/types.h"

// Appends one entry to the input port box and one number to DetectedPorts
// for each serial port among the built-in drivers.
void ListBuiltInPorts(HWND dialog);
// Lists the ports, then selects the entry of the saved input port.
void FillInputPortList(HWND dialog);

// Lists the built-in ports again after a device came or went, keeping the
// person's choice: a chosen port stays chosen (by its number) while it is
// listed, and one whose device went keeps its entry until another is chosen;
// a typed text stays in the edit field. Nothing changes when the list is the
// same.
void RefreshInputPortList(HWND dialog);
