// The process's configuration: environment variables, each with a default.
#include <cstdlib>

#include "platform/boot.h"
#include "platform/host/home_folder.h"

namespace platform {
namespace {

std::filesystem::path Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::filesystem::path(value) : std::filesystem::path();
}

std::filesystem::path DefaultDeviceRoot()
{
    return host::XdgBaseFolder("XDG_DATA_HOME", ".local/share") / "tavrel";
}

// A made-up host for trying serial devices that come and go: its dev/ and
// sys/ are read instead of /dev and /sys.
void ReadHostRoot(DeviceSettings& settings)
{
    const std::filesystem::path host = Variable("TAVREL_HOST_ROOT");
    if (!host.empty()) {
        settings.hostDevRoot = host / "dev";
        settings.hostSysRoot = host / "sys";
    }
}

}  // namespace

DeviceSettings DeviceSettingsFromEnvironment()
{
    DeviceSettings settings;
    settings.deviceRoot = Variable("TAVREL_DEVICE_ROOT");
    if (settings.deviceRoot.empty()) {
        settings.deviceRoot = DefaultDeviceRoot();
    }
    settings.portFolder = Variable("TAVREL_PORT_DIR");
    if (const char* group = std::getenv("TAVREL_PORT_GROUP"); group != nullptr) {
        settings.portGroup = group;
    }
    ReadHostRoot(settings);
    return settings;
}

}  // namespace platform
