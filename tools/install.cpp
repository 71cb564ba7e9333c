// tavrel-install: installs Tavrel into the device as an installer would. The
// driver module goes to "\Program Files\Tavrel\quorvel.dll", "InstallPath"
// under HKEY_LOCAL_MACHINE\Software\Brenmor\Tavrel names that folder, and the
// Programs folder gets the shortcut "Tavrel.lnk" that starts the program.
// Running it again changes nothing more.
//
//   tavrel-install [--module PATH]
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tools/device_setup.h"

namespace {

const char16_t kInstallFolder[] = u"\\Program Files\\Tavrel";
const char16_t kShortcut[] = u"\\Windows\\Start Menu\\Programs\\Tavrel.lnk";

bool WriteInstallPath()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Brenmor\\Tavrel", 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::u16string path = kInstallFolder;
    const LONG written = RegSetValueExW(key, u"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                        static_cast<DWORD>((path.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return written == ERROR_SUCCESS;
}

// A shortcut of the device: the length of the target, '#', and the target.
bool WriteShortcut()
{
    // Appended piece by piece: GCC 12 wrongly warns (-Wrestrict) about a
    // literal + string at -O3.
    std::string target = "\"";
    target += platform::ToUtf8(kInstallFolder);
    target += "\\Tavrel.exe\"";
    const auto file = platform::HostPathOf(kShortcut);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << target.size() << '#' << target;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    std::filesystem::path module = QUORVEL_MODULE_PATH;
    if (argc == 3 && std::string(argv[1]) == "--module") {
        module = argv[2];
    } else if (argc != 1) {
        std::fputs("usage: tavrel-install [--module PATH]\n", stderr);
        return 2;
    }
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    const platform::BootResult boot = platform::BootDevice(settings);
    for (const std::string& problem : boot.problems) {
        std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
    }
    const bool installed = boot.ok && tavrel::tools::InstallVirtualPortDriver(module) && WriteInstallPath() &&
                           WriteShortcut();
    platform::ShutdownDevice();
    if (!installed) {
        std::fprintf(stderr, "tavrel-install: could not install into %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    std::printf("Tavrel installed into the device at %s\n", settings.deviceRoot.c_str());
    return 0;
}
