// tavrel-install: installs Tavrel into the device as an installer would, and
// registers it with the login session. The driver module goes to
// "\Program Files\Tavrel\quorvel.dll", "InstallPath" under
// HKEY_LOCAL_MACHINE\Software\Brenmor\Tavrel names that folder, the Programs
// folder gets the shortcut "Tavrel.lnk" that starts the program, and the
// autostart entry (see autostart_entry.h) runs the start-up launcher for this
// device at every login; the launcher starts Tavrel only while the device's
// StartUp folder holds its shortcut, i.e. while Autostart is ticked. Running
// it again changes nothing more; installing for another device root moves the
// autostart entry to that device.
//
// --uninstall takes away exactly those four things, each only when it is
// what install made: the module that install recorded (and the install
// folder when it is left empty), "InstallPath" (and its key when it is left
// empty), the Programs shortcut, and the autostart entry made for this device
// root. Each removal that fails is said on stderr with its reason, the others
// still happen, and the exit code is 1; so is a module that is not the one
// install put there, which stays. It leaves the person's settings: the values
// under HKEY_CURRENT_USER, the StartUp shortcut that follows the Autostart
// option, and the virtual port and built-in port keys; so a later install
// brings Tavrel back as it was.
//
// --system (as root) makes the machine's folder for every user's ports,
// /run/tavrel, now and at every boot; --uninstall --system takes it away (see
// system_folder.h). TAVREL_SYSTEM_ROOT names a folder that stands for / (for
// tests).
//
//   tavrel-install [--module PATH]
//   tavrel-install --uninstall
//   tavrel-install [--uninstall] --system
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tools/autostart_entry.h"
#include "tools/device_setup.h"
#include "tools/durable_file.h"
#include "tools/shortcut_text.h"
#include "tools/system_folder.h"
#include "tools/uninstall.h"

namespace {

using tavrel::tools::kInstallFolder;
using tavrel::tools::kProductKey;
using tavrel::tools::kProgram;
using tavrel::tools::kProgramsShortcut;

bool WriteInstallPath()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::u16string path = kInstallFolder;
    const LONG written = RegSetValueExW(key, u"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                        static_cast<DWORD>((path.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return written == ERROR_SUCCESS;
}

bool WriteShortcut()
{
    const std::string problem = tavrel::tools::WriteFileDurably(platform::HostPathOf(kProgramsShortcut),
                                                                tavrel::tools::ShortcutText(kProgram), 0644);
    if (!problem.empty()) {
        std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
    }
    return problem.empty();
}

bool BootForInstall(const platform::DeviceSettings& settings)
{
    const platform::BootResult boot = platform::BootDevice(settings);
    for (const std::string& problem : boot.problems) {
        std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
    }
    return boot.ok;
}

int Install(const platform::DeviceSettings& settings, const std::filesystem::path& module)
{
    const bool installed = BootForInstall(settings) && tavrel::tools::InstallVirtualPortDriver(module) &&
                           WriteInstallPath() && WriteShortcut();
    platform::ShutdownDevice();
    if (!installed) {
        std::fprintf(stderr, "tavrel-install: could not install into %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    std::printf("Tavrel installed into the device at %s\n", settings.deviceRoot.c_str());
    const std::string problem =
        tavrel::tools::WriteAutostartEntry(TAVREL_STARTUP_PATH, settings.deviceRoot, settings.portFolder);
    if (!problem.empty()) {
        std::fprintf(stderr, "tavrel-install: no start at login: %s\n", problem.c_str());
        return 1;
    }
    std::printf("At login, %s starts it when Autostart is ticked\n", tavrel::tools::AutostartEntryFile().c_str());
    return 0;
}

int Uninstall(platform::DeviceSettings settings)
{
    const bool entryGone = tavrel::tools::UninstallEntry(settings.deviceRoot);
    std::error_code error;
    if (!std::filesystem::is_directory(settings.deviceRoot / "registry", error)) {
        std::printf("There is no device at %s; nothing more to uninstall\n", settings.deviceRoot.c_str());
        return entryGone ? 0 : 1;
    }
    settings.syncHostSerialPorts = false;   // leave the built-in port keys as they are
    const bool booted = BootForInstall(settings);
    const bool deviceDone = booted && tavrel::tools::UninstallFromDevice(QUORVEL_MODULE_PATH);
    platform::ShutdownDevice();
    if (!booted) {
        std::fprintf(stderr, "tavrel-install: could not uninstall from %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    if (!entryGone || !deviceDone) {
        std::fprintf(stderr, "tavrel-install: Tavrel is not wholly uninstalled from the device at %s (see above)\n",
                     settings.deviceRoot.c_str());
        return 1;
    }
    std::printf("Tavrel uninstalled from the device at %s; its settings are kept\n", settings.deviceRoot.c_str());
    return 0;
}

tavrel::tools::SystemRoot SystemRootFromEnvironment()
{
    tavrel::tools::SystemRoot system;
    if (const char* root = std::getenv("TAVREL_SYSTEM_ROOT"); root != nullptr && *root != '\0') {
        system.root = root;
    }
    return system;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> options(argv + 1, argv + argc);
    using Options = std::vector<std::string>;
    if (options == Options{"--system"}) {
        return tavrel::tools::InstallSystemFolder(SystemRootFromEnvironment());
    }
    if (options == Options{"--uninstall", "--system"} || options == Options{"--system", "--uninstall"}) {
        return tavrel::tools::UninstallSystemFolder(SystemRootFromEnvironment());
    }
    const bool uninstall = options == Options{"--uninstall"};
    const bool withModule = options.size() == 2 && options[0] == "--module";
    if (!options.empty() && !uninstall && !withModule) {
        std::fputs("usage: tavrel-install [--module PATH]\n"
                   "       tavrel-install --uninstall\n"
                   "       tavrel-install [--uninstall] --system     (as root: the folder for every user's ports)\n",
                   stderr);
        return 2;
    }
    // The autostart entry runs from another working folder: it names absolute paths.
    const platform::DeviceSettings settings = tavrel::tools::AbsoluteDeviceSettings();
    if (uninstall) {
        return Uninstall(settings);
    }
    return Install(settings, withModule ? std::filesystem::path(options[1]) : std::filesystem::path(QUORVEL_MODULE_PATH));
}
