// The serial I/O controls through which the comm calls (GetCommState,
// SetCommMask, PurgeComm, ...) reach a port.
#pragma once

#include "platform/types.h"

namespace quorvel {

class VirtualPort;

struct ControlBuffers {
    const BYTE* in;
    DWORD inSize;
    BYTE* out;
    DWORD outSize;
    DWORD* outActual;
};

// ERROR_SUCCESS, or the Win32 error of the failed control.
DWORD HandleSerialControl(VirtualPort& port, DWORD code, const ControlBuffers& buffers);

}  // namespace quorvel
