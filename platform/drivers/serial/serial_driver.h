// The platform's built-in serial driver: a stream driver whose instances are
// the host's serial devices (UARTs, USB serial adapters, any tty including
// pseudo-terminals), driven through termios.
//
// The driver key names the host device in its "HostDevice" value (REG_SZ,
// such as /dev/ttyUSB0). Init only records it, since a USB adapter may be
// plugged in later; Open opens the tty and puts it into raw 8-bit mode.
// A path that is not a tty fails Open with ERROR_NOT_SUPPORTED; an I/O
// control that the driver does not know fails with ERROR_INVALID_FUNCTION.
// A device that goes away makes Read and Write fail with ERROR_DEVICE_REMOVED,
// after the data that arrived before was delivered.
#pragma once

#include "platform/streamdriver.h"

namespace platform {

const STREAM_DRIVER_ENTRIES* HostSerialDriverEntries();

}  // namespace platform
