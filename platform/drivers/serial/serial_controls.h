// The serial I/O controls of streamdriver.h, carried out on an open port.
#pragma once

#include "drivers/serial/tty_port.h"

namespace platform::serial {

// The caller's buffers of one DeviceIoControl.
struct ControlBuffers {
    const BYTE* in;
    DWORD inSize;
    BYTE* out;
    DWORD outSize;
    DWORD* outActual;   // may be null
};

// Returns ERROR_SUCCESS, ERROR_INVALID_PARAMETER for a buffer that is missing
// or too small, ERROR_INVALID_FUNCTION for an unknown code, or the error of
// the control itself.
DWORD CarryOutControl(TtyPort& port, DWORD code, const ControlBuffers& buffers);

}  // namespace platform::serial
