// A device never opens one of its own published endpoints as a host serial
// device. The ttys that the links in its node folder lead to (the pseudo-
// terminals of its virtual ports) are the device's outputs: opened as its
// input, they would feed the device what it writes itself. A driver key can
// come to name one without anybody changing it: the tty that it names goes
// away, and the same pseudo-terminal number is given to a new virtual port.
#pragma once

#include "platform/types.h"

namespace platform::serial {

// ERROR_ACCESS_DENIED (the port is the device's own, in use as an output)
// when the open tty `fd` is the device that a link in the device's node
// folder leads to; ERROR_SUCCESS otherwise, and while no device is up.
DWORD RefuseOwnEndpoint(int fd);

}  // namespace platform::serial
