// Names that the processes of one device hold together, such as the name of a
// mutex: a name exists while some live process holds it. Each holder keeps a
// shared flock on the name's file, so a holder that ends, even by SIGKILL,
// lets go of it without anyone's help.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "session/run_files.h"

namespace platform::session {

// This process's hold on one name; letting it go removes the name's file when
// no other process holds it.
class DeviceNameHold {
public:
    DeviceNameHold(std::filesystem::path space, std::filesystem::path file, UniqueFd lock);
    ~DeviceNameHold();
    DeviceNameHold(DeviceNameHold&&) = default;
    DeviceNameHold& operator=(DeviceNameHold&&) = delete;
    DeviceNameHold(const DeviceNameHold&) = delete;
    DeviceNameHold& operator=(const DeviceNameHold&) = delete;

private:
    std::filesystem::path space_;  // the folder of all names of one kind
    std::filesystem::path file_;
    UniqueFd lock_;
};

struct TakenName {
    std::optional<DeviceNameHold> hold;  // empty on failure
    bool heldElsewhere = false;  // another live process held it already
    int error = 0;  // errno of the failure
};

// Takes a hold on `name` among the names of `kind` ("mutex") of the device.
// Checking and taking are one step for all processes of the device, so two
// that take a new name at the same moment cannot both find it new. Any
// character may appear in a name; names are case-sensitive.
TakenName TakeDeviceName(const std::filesystem::path& deviceRoot, std::string_view kind, std::u16string_view name);

}  // namespace platform::session
