// How often this process has reset the system idle timer. On the device each
// SystemIdleTimerReset keeps the handheld from suspending for want of user
// activity; on the host it changes nothing but this count, which a test reads
// to see that a program keeps the device awake.
#pragma once

#include <cstddef>

namespace platform {

std::size_t SystemIdleTimerResets();

}  // namespace platform
