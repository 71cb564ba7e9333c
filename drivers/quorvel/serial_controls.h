// The serial I/O controls through which the comm calls (GetCommState,
// SetCommMask, PurgeComm, ...) reach a port.
#pragma once

#include "platform/serial_rules/control_buffers.h"

namespace quorvel {

struct OpenContext;

using platform::serial_rules::ControlBuffers;

// ERROR_SUCCESS, or the Win32 error of the failed control.
DWORD HandleSerialControl(OpenContext& open, DWORD code, const ControlBuffers& buffers);

}  // namespace quorvel
