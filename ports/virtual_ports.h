// The virtual output ports: the driver key of each port number, the probe
// that tells whether its port can be created now, and the start-up scan that
// offers the creatable ones.
#pragma once

#include "platform/types.h"
#include "state/port_lists.h"

void RegisterVirtualPort(int port);
bool ProbeVirtualPort(int port);
// Fills the free-output box and FreeOutputs with the creatable ports 0 to 9
// that no built-in port holds.
void FindFreeOutputs(HWND dialog);
// The same for the numbers in `numbers` only (or all but them), each entry
// put in its numeric place among those already found, so that a start can
// look for some numbers first and for the others later, with the same lists
// in the end.
enum class ScanPart { Only, AllBut };
void FindFreeOutputs(HWND dialog, const PortList& numbers, ScanPart part);

// A device that came while the program runs may have taken a number that the
// start-up scan found free: a built-in driver owns each number in
// DetectedPorts now. Such numbers leave the free-output box and FreeOutputs.
void DropBuiltInNumbersFromFreeOutputs(HWND dialog);
// The same for the output list and SplitOutputs, whose virtual port could no
// longer be made. Only while relaying is stopped: the relay worker reads
// SplitOutputs while it runs.
void DropBuiltInNumbersFromSplitOutputs(HWND dialog);
