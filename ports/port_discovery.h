// The device's own serial ports, listed from the drivers loaded at boot, as
// the choices of the input port box.
#pragma once

#include "platform/types.h"

// Appends one entry to the input port box and one number to DetectedPorts
// for each serial port among the built-in drivers.
void ListBuiltInPorts(HWND dialog);
// Lists the ports, then selects the entry of the saved input port.
void FillInputPortList(HWND dialog);
