#include "tools/startup/startup_folder.h"

#include <algorithm>
#include <optional>

#include "platform/boot.h"
#include "platform/host/file_calls.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "setup/device_setup.h"
#include "setup/shortcut_text.h"

namespace tavrel::tools {
namespace {

// A shortcut is a line of text; anything much longer is something else.
constexpr std::size_t kLargestShortcut = 4096;

std::u16string StartupFolderPath()
{
    WCHAR path[MAX_PATH] = {};
    return SHGetSpecialFolderPath(nullptr, path, CSIDL_STARTUP, FALSE) ? std::u16string(path) : std::u16string();
}

std::vector<std::u16string> FileNames(const std::u16string& folder)
{
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + u"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

StartupFolder ReadStartupFolder()
{
    StartupFolder folder;
    const std::u16string startup = StartupFolderPath();
    for (const std::u16string& name : FileNames(startup)) {
        const std::u16string file = startup + u"\\" + name;
        const std::optional<std::string> text =
            platform::host::ReadSmallFile(platform::HostPathOf(file), kLargestShortcut);
        const setup::ShortcutTarget read = text ? setup::ReadShortcutText(*text) : setup::ShortcutTarget{{}, "it is too large or unreadable"};
        if (read.target.empty()) {
            folder.notShortcuts.push_back(platform::ToUtf8(file) + " is not a shortcut: " + read.problem);
        } else {
            folder.shortcuts.push_back({file, read.target});
        }
    }
    return folder;
}

std::u16string InstalledProgramPath()
{
    WCHAR installPath[MAX_PATH] = {};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, setup::kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof(installPath) - sizeof(WCHAR);
        DWORD type = REG_NONE;
        if (RegQueryValueExW(key, setup::kInstallPathValue, nullptr, &type, reinterpret_cast<BYTE*>(installPath), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            installPath[0] = u'\0';
        }
        RegCloseKey(key);
    }
    return std::u16string(installPath) + u"\\Tavrel.exe";
}

}  // namespace tavrel::tools
