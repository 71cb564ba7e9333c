// tavrel-demo-setup: prepares the device so that Tavrel, started unattended,
// relays a given serial device: the device becomes the built-in port COM9 and
// the user's settings choose it as the input, at the given baud index, with
// the outputs COM2 and COM3 and Autostart on.
//
//   tavrel-demo-setup HOST_TTY [BAUD_INDEX]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/boot.h"
#include "platform/registry.h"
#include "tools/device_setup.h"

namespace {

constexpr DWORD kInputPort = 9;
constexpr DWORD kOutputs = (1u << (2 + 1)) | (1u << (3 + 1));   // COM2 and COM3, as "Split" holds them

bool WriteUserSettings(DWORD baudIndex)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Brenmor\\Tavrel", 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const DWORD autostart = 1;
    bool written = true;
    for (const auto& [name, value] : {std::pair{u"Port", kInputPort}, std::pair{u"Baud", baudIndex},
                                      std::pair{u"Autostart", autostart}, std::pair{u"Split", kOutputs}}) {
        written = written && RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                            sizeof(value)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return written;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: tavrel-demo-setup HOST_TTY [BAUD_INDEX]\n", stderr);
        return 2;
    }
    const DWORD baudIndex = argc == 3 ? static_cast<DWORD>(std::atoi(argv[2])) : 5;
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    platform::BootDevice(settings);
    const bool prepared = tavrel::tools::MapBuiltInPort(u"Demo input", kInputPort, argv[1]) &&
                          WriteUserSettings(baudIndex);
    platform::ShutdownDevice();
    if (!prepared) {
        std::fprintf(stderr, "tavrel-demo-setup: cannot prepare the device at %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    return 0;
}
