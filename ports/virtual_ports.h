// The virtual output ports: the driver key of each port number, the probe
// that tells whether its port can be created now, and the start-up scan that
// offers the creatable ones.
#pragma once

#include "platform/types.h"

void RegisterVirtualPort(int port);
bool ProbeVirtualPort(int port);
// Fills the free-output box and FreeOutputs with the creatable ports 0 to 9
// that no built-in port holds.
void FindFreeOutputs(HWND dialog);
