// The active devices, by name and by activation handle.
#pragma once

#include <memory>
#include <string>

#include "devices/device.h"

namespace platform::devices {

std::shared_ptr<Device> FindActiveDevice(std::u16string_view name);
void DeactivateAllDevices();

}  // namespace platform::devices
