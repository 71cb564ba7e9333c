#include "settings/settings_store.h"

#include <cstring>

#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "settings/split_mask.h"
#include "state/app_settings.h"
#include "state/install_path.h"
#include "state/port_lists.h"

bool SettingsUnreadable = false;
DWORD UnrestoredOutputs = 0;

namespace {

const WCHAR kSettingsKey[] = u"Software\\Brenmor\\Tavrel";
const WCHAR kShortcutName[] = u"\\Tavrel.lnk";
constexpr DWORD kInstallPathLimit = 259;   // bytes: 128 characters and the terminator

// Reads a 4-byte value into a field. A value of any other size leaves the
// field alone: a shorter one would change only some of its bytes.
void ReadNumber(HKEY key, const WCHAR* name, void* field)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
        size == sizeof(value)) {
        static_assert(sizeof(AppSettings.inputPort) == sizeof(value));
        std::memcpy(field, &value, sizeof(value));
    }
}

// Reads a text value into a field of `size` characters. A value that does not
// fit with its terminator, or that is not text, leaves the field alone.
void ReadText(HKEY key, const WCHAR* name, WCHAR* field, std::size_t size)
{
    std::u16string text(size, u'\0');
    DWORD bytes = static_cast<DWORD>((size - 1) * sizeof(WCHAR));
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
        StringCchCopyW(field, size, text.c_str());
    }
}

void WriteNumber(HKEY key, const WCHAR* name, const void* field)
{
    RegSetValueExW(key, name, 0, REG_DWORD, static_cast<const BYTE*>(field), sizeof(DWORD));
}

// "Reconnect", beside "Autostart": read and written like the others, through
// a copy, since the relay worker may read the flag while it is set.
void ReadReconnect(HKEY key)
{
    DWORD reconnect = AppSettings.reconnect.load();
    ReadNumber(key, u"Reconnect", &reconnect);
    AppSettings.reconnect.store(reconnect);
}

void WriteReconnect(HKEY key)
{
    const DWORD reconnect = AppSettings.reconnect.load();
    WriteNumber(key, u"Reconnect", &reconnect);
}

// A special folder's path with the shortcut's name appended; false when the
// folder is unknown or the whole path does not fit.
bool ShortcutPath(int folder, WCHAR (&path)[MAX_PATH])
{
    return SHGetSpecialFolderPath(nullptr, path, folder, FALSE) &&
           SUCCEEDED(StringCchCatW(path, MAX_PATH, kShortcutName));
}

bool FileExists(const WCHAR* path)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

}  // namespace

void LoadSettings()
{
    AppSettings = Settings{};
    UnrestoredOutputs = 0;
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key);
    // A missing key is a first run; any other failure hides settings that exist.
    SettingsUnreadable = opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND;
    if (opened == ERROR_SUCCESS) {
        ReadNumber(key, u"Port", &AppSettings.inputPort);
        ReadNumber(key, u"Baud", &AppSettings.baudIndex);
        ReadNumber(key, u"Autostart", &AppSettings.autostart);
        ReadReconnect(key);
        // Set with tavrel-config, not in the window, so they are only read here.
        ReadNumber(key, u"GpsdHandoff", &AppSettings.gpsdHandoff);
        ReadText(key, u"GpsdSocket", AppSettings.gpsdSocket, kGpsdSocketSize);
        RegCloseKey(key);
    }
    LoadInstallPath();
}

void LoadInstallPath()
{
    InstallPath[0] = u'\0';
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD size = kInstallPathLimit;
    // At most 259 bytes land in a buffer of 520, so the text stays terminated.
    if (RegQueryValueExW(key, u"InstallPath", nullptr, nullptr, reinterpret_cast<BYTE*>(InstallPath), &size) !=
        ERROR_SUCCESS) {
        InstallPath[0] = u'\0';
    }
    RegCloseKey(key);
}

void OutputsChangedByPerson()
{
    UnrestoredOutputs = 0;
}

void SaveSettings()
{
    if (SettingsUnreadable) {
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, 0, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        WriteNumber(key, u"Port", &AppSettings.inputPort);
        WriteNumber(key, u"Baud", &AppSettings.baudIndex);
        WriteNumber(key, u"Autostart", &AppSettings.autostart);
        WriteReconnect(key);
        const DWORD split = EncodeSplit(SplitOutputs) | UnrestoredOutputs;
        WriteNumber(key, u"Split", &split);
        RegCloseKey(key);
    }
    UpdateStartupShortcut(AppSettings.autostart != 0);
}

void UpdateStartupShortcut(bool enabled)
{
    WCHAR startup[MAX_PATH] = {};
    if (!ShortcutPath(CSIDL_STARTUP, startup)) {
        return;
    }
    if (enabled) {
        WCHAR programs[MAX_PATH] = {};
        if (ShortcutPath(CSIDL_PROGRAMS, programs) && FileExists(programs)) {
            CopyFileW(programs, startup, FALSE);
        }
    } else if (FileExists(startup)) {
        DeleteFileW(startup);
    }
}
