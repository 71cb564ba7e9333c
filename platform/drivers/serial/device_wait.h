// One wait of a driver call: until the device is ready, the device hung up,
// the call's wake-up descriptor fired, or the deadline passed.
#pragma once

#include "drivers/serial/comm_timeouts.h"

namespace platform::serial {

enum class WaitResult { Ready, Hangup, Woken, TimedOut, Failed };

// Polls deviceFd for `events` (0 watches only for a hang-up) together with
// wakeFd, retrying EINTR with the time that is left. A wake-up wins over
// anything the device reports at the same moment, so that a closing handle
// is never kept busy by a chatty device.
WaitResult WaitForDevice(int deviceFd, short events, int wakeFd, const Deadline& deadline);

}  // namespace platform::serial
