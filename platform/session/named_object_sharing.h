// The kernel's named objects among the processes of the device that is up:
// the session's side of kernel/shared_names.h. Its scope is the device root,
// read when a name is made (empty, so names stay within the process, while no
// device is up); names are held in the device's run/ folder (device_names.h).
#pragma once

#include "kernel/shared_names.h"

namespace platform::session {

// The one sharing of the process; it lives as long as the process.
kernel::NameSharing& DeviceNameSharing();

}  // namespace platform::session
