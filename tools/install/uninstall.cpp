#include "tools/install/uninstall.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/boot.h"
#include "platform/host/file_calls.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "setup/autostart_entry.h"
#include "setup/device_setup.h"
#include "setup/durable_file.h"
#include "setup/module_record.h"
#include "setup/shortcut_text.h"

namespace tavrel::tools {
namespace {

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

void Report(const std::string& problem)
{
    std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
}

// A file of the host; one that is gone already is fine.
bool RemoveFile(const std::filesystem::path& file)
{
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        Report(setup::FileProblem("cannot remove", file, errno));
        return false;
    }
    return true;
}

// A folder of the host, when nothing is left in it.
bool RemoveEmptyFolder(const std::filesystem::path& folder)
{
    if (::rmdir(folder.c_str()) != 0 && errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST) {
        Report(setup::FileProblem("cannot remove", folder, errno));
        return false;
    }
    return true;
}

std::string RegistryErrorText(LONG error)
{
    switch (static_cast<DWORD>(error)) {
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_REGISTRY_IO_FAILED:
        return "the device's registry file cannot be written";
    default:
        return "error " + std::to_string(error);
    }
}

bool ReportRegistry(const char* what, const char16_t* key, LONG error)
{
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    Report(std::string("cannot remove ") + what + " HKEY_LOCAL_MACHINE\\" + platform::ToUtf8(key) + ": " +
           RegistryErrorText(error));
    return false;
}

bool RemoveInstallPath()
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, setup::kProductKey, 0, KEY_ALL_ACCESS, &key);
    if (result == ERROR_SUCCESS) {
        result = RegDeleteValueW(key, setup::kInstallPathValue);
        RegCloseKey(key);
    }
    if (!ReportRegistry("\"InstallPath\" from", setup::kProductKey, result)) {
        return false;
    }
    for (const char16_t* path : {setup::kProductKey, u"Software\\Brenmor"}) {
        if (KeyIsEmpty(path) && !ReportRegistry("the empty key", path, RegDeleteKeyW(HKEY_LOCAL_MACHINE, path))) {
            return false;
        }
    }
    return true;
}

// Removes a file of the device's file system only when it holds what install wrote.
bool RemoveShortcut()
{
    const std::filesystem::path file = platform::HostPathOf(setup::kProgramsShortcut);
    const std::optional<std::string> text = platform::host::ReadSmallFile(file);
    if (!text && errno == ENOENT) {
        return true;
    }
    if (!text && !platform::host::FoundNoSmallFile(errno)) {
        Report(setup::FileProblem("cannot read", file, errno));
        return false;
    }
    if (text != setup::ShortcutText(setup::kProgram)) {
        std::printf("%s was changed since install; left in place\n", file.c_str());
        return true;
    }
    return RemoveFile(file);
}

// The module only while it is the one that install recorded (or shipped), then its record.
bool RemoveModule(const std::filesystem::path& shippedModule)
{
    const std::filesystem::path module = platform::HostPathOf(setup::kVirtualPortModule);
    const setup::ModuleCheck check = setup::CheckInstalledModule(module, shippedModule);
    if (check.state == setup::ModuleState::Unreadable) {
        Report(check.problem);
        return false;
    }
    if (check.state == setup::ModuleState::NotInstalled) {
        Report(module.string() + " is not the module that tavrel-install put there; left in place");
        return false;
    }
    return (check.state == setup::ModuleState::Missing || RemoveFile(module)) && RemoveFile(setup::ModuleRecordFile(module)) &&
           RemoveEmptyFolder(platform::HostPathOf(setup::kInstallFolder));
}

}  // namespace

bool UninstallEntry(const std::filesystem::path& deviceRoot)
{
    const std::string file = setup::AutostartEntryFile().string();
    const setup::RemovedEntry removed = setup::RemoveAutostartEntry(deviceRoot);
    switch (removed.outcome) {
    case setup::EntryRemoval::Removed:
    case setup::EntryRemoval::Absent:
        return true;
    case setup::EntryRemoval::ForAnotherDevice:
        std::printf("%s starts Tavrel on another device; left in place\n", file.c_str());
        return true;
    case setup::EntryRemoval::NotMadeByInstall:
        std::printf("%s was not made by tavrel-install; left in place\n", file.c_str());
        return true;
    case setup::EntryRemoval::Failed:
        break;
    }
    Report(removed.problem);
    return false;
}

bool UninstallFromDevice(const std::filesystem::path& shippedModule)
{
    // Every step is taken, whichever failed before it.
    const bool moduleGone = RemoveModule(shippedModule);
    const bool shortcutGone = RemoveShortcut();
    const bool installPathGone = RemoveInstallPath();
    return moduleGone && shortcutGone && installPathGone;
}

}  // namespace tavrel::tools
