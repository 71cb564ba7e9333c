// Finding a driver's entry points from the "Dll" value of its key: a module
// built into the process, or a module file in the device's file system.
#pragma once

#include <string>

#include "platform/streamdriver.h"

namespace platform::devices {

// Fills `entries` for the module that `dll` names, exporting its entry points
// under `prefix` ("COM" gives COM_Init ...). Returns ERROR_SUCCESS,
// ERROR_MOD_NOT_FOUND when there is no such module (a module file must be a
// regular file whose real path lies inside the device's file system), or
// ERROR_PROC_NOT_FOUND when it lacks a required entry point.
DWORD ResolveDriverModule(const std::u16string& dll, const std::u16string& prefix, STREAM_DRIVER_ENTRIES& entries);

}  // namespace platform::devices
