// Driver modules that live inside the process, like the modules in the
// device's ROM: a driver key whose "Dll" names one of them (without a path)
// uses it instead of a module file. The built-in serial driver is one.
#pragma once

#include <string>

#include "platform/streamdriver.h"

namespace platform {

// Registers (or replaces) a module under a file name such as u"serial.dll".
// The entries must stay valid for the life of the process.
void RegisterBuiltInModule(const std::u16string& fileName, const STREAM_DRIVER_ENTRIES* entries);
void UnregisterBuiltInModule(const std::u16string& fileName);

}  // namespace platform
