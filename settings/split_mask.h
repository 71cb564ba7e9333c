// The "Split" value: the chosen outputs as a bit mask, bit n + 1 for output n
// (0 to 9). The settings store writes it and the autostart replay reads it,
// both through this one encoding. The mask keeps which outputs were chosen,
// not their order; bit 0 and bits 11 to 31 are never written and never read.
#pragma once

#include "platform/types.h"
#include "state/port_lists.h"

// The mask of the outputs in `outputs`; a number above 9 sets no bit.
DWORD EncodeSplit(const PortList& outputs);
// The outputs 0 to 9 whose bit is set in `mask`, in ascending order.
PortList DecodeSplit(DWORD mask);
