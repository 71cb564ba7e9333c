// The serial I/O controls of streamdriver.h, carried out on an open port.
#pragma once

#include "drivers/serial/tty_port.h"
#include "platform/serial_rules/control_buffers.h"

namespace platform::serial {

using serial_rules::ControlBuffers;

// Returns ERROR_SUCCESS, ERROR_INVALID_PARAMETER for a buffer that is missing
// or too small, ERROR_INVALID_FUNCTION for an unknown code, or the error of
// the control itself.
DWORD CarryOutControl(TtyPort& port, DWORD code, const ControlBuffers& buffers);

// Whether CarryOutControl knows `code`.
bool IsSerialControl(DWORD code);

}  // namespace platform::serial
