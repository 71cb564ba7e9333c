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
// what install made: the module (and the install folder when it is left
// empty), "InstallPath" (and its key when it is left empty), the Programs
// shortcut, and the autostart entry made for this device root. It leaves the
// person's settings: the values under HKEY_CURRENT_USER, the StartUp shortcut
// that follows the Autostart option, and the virtual port and built-in port
// keys; so a later install brings Tavrel back as it was.
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
#include <fstream>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tools/autostart_entry.h"
#include "tools/device_setup.h"
#include "tools/shortcut_text.h"
#include "tools/small_file.h"
#include "tools/system_folder.h"

namespace {

const char16_t kInstallFolder[] = u"\\Program Files\\Tavrel";
const char16_t kProgram[] = u"\\Program Files\\Tavrel\\Tavrel.exe";
const char16_t kShortcut[] = u"\\Windows\\Start Menu\\Programs\\Tavrel.lnk";
const char16_t kProductKey[] = u"Software\\Brenmor\\Tavrel";

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
    const auto file = platform::HostPathOf(kShortcut);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << tavrel::tools::ShortcutText(kProgram);
    return static_cast<bool>(out);
}

bool KeyIsEmpty(const char16_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    WCHAR name[MAX_KEY_NAME_LENGTH + 1];
    DWORD length = MAX_KEY_NAME_LENGTH + 1;
    const bool noKeys = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS;
    length = MAX_KEY_NAME_LENGTH + 1;
    const bool noValues = RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS;
    RegCloseKey(key);
    return noKeys && noValues;
}

void RemoveInstallPath()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, u"InstallPath");
        RegCloseKey(key);
    }
    for (const char16_t* path : {kProductKey, u"Software\\Brenmor"}) {
        if (KeyIsEmpty(path)) {
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
        }
    }
}

// Removes a file of the device's file system only when it holds what install wrote.
void RemoveShortcut()
{
    const std::filesystem::path file = platform::HostPathOf(kShortcut);
    const std::string text = tavrel::tools::ReadSmallFile(file).value_or("");
    std::error_code error;
    if (text == tavrel::tools::ShortcutText(kProgram)) {
        std::filesystem::remove(file, error);
    } else if (!text.empty()) {
        std::fprintf(stderr, "tavrel-install: %s was changed since install; left in place\n", file.c_str());
    }
}

void RemoveModule()
{
    std::error_code error;
    std::filesystem::remove(platform::HostPathOf(tavrel::tools::kVirtualPortModule), error);
    std::filesystem::remove(platform::HostPathOf(kInstallFolder), error);   // only when it is empty now
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

bool UninstallEntry(const platform::DeviceSettings& settings)
{
    using tavrel::tools::EntryRemoval;
    const std::string file = tavrel::tools::AutostartEntryFile().string();
    switch (tavrel::tools::RemoveAutostartEntry(settings.deviceRoot)) {
    case EntryRemoval::Removed:
    case EntryRemoval::Absent:
        return true;
    case EntryRemoval::ForAnotherDevice:
        std::printf("%s starts Tavrel on another device; left in place\n", file.c_str());
        return true;
    case EntryRemoval::NotMadeByInstall:
        std::printf("%s was not made by tavrel-install; left in place\n", file.c_str());
        return true;
    case EntryRemoval::Failed:
        break;
    }
    std::fprintf(stderr, "tavrel-install: cannot remove %s\n", file.c_str());
    return false;
}

int Uninstall(platform::DeviceSettings settings)
{
    const bool entryGone = UninstallEntry(settings);
    std::error_code error;
    if (!std::filesystem::is_directory(settings.deviceRoot / "registry", error)) {
        std::printf("There is no device at %s; nothing more to uninstall\n", settings.deviceRoot.c_str());
        return entryGone ? 0 : 1;
    }
    settings.syncHostSerialPorts = false;   // leave the built-in port keys as they are
    const bool booted = BootForInstall(settings);
    if (booted) {
        RemoveModule();
        RemoveShortcut();
        RemoveInstallPath();
    }
    platform::ShutdownDevice();
    if (!booted) {
        std::fprintf(stderr, "tavrel-install: could not uninstall from %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    std::printf("Tavrel uninstalled from the device at %s; its settings are kept\n", settings.deviceRoot.c_str());
    return entryGone ? 0 : 1;
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
