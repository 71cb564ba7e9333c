#include "settings/settings_store.h"

#include <optional>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_number.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "settings/registry_values.h"
#include "settings/split_mask.h"
#include "state/app_settings.h"
#include "state/install_path.h"
#include "state/port_lists.h"

bool SettingsUnreadable = false;

namespace {

// The window's choices as this run last read or wrote them. At exit only the
// values that differ from them were changed by the person, and only those are
// written: a value that another program stored meanwhile (tavrel-config on a
// machine where Tavrel runs) is never written over with what the window
// merely loaded. Nothing before the settings were loaded: everything is
// written.
struct StoredChoices {
    DWORD port = 0;
    DWORD baud = 0;
    DWORD autostart = 0;
    DWORD reconnect = 0;
};
std::optional<StoredChoices> LastStored;
// Whether the person added or deleted an output since the settings were loaded.
bool OutputsChanged = false;

StoredChoices ChoicesNow()
{
    // A copy of Reconnect: the relay worker may read it while it is set.
    return {static_cast<DWORD>(AppSettings.inputPort), static_cast<DWORD>(AppSettings.baudIndex),
            AppSettings.autostart, AppSettings.reconnect.load()};
}

const WCHAR kShortcutName[] = u"\\Tavrel.lnk";
constexpr DWORD kInstallPathLimit = 259;   // bytes: 128 characters and the terminator

// Reads a number into a 32-bit field; a value that holds none leaves the
// field at its default.
template <typename Field>
void ReadNumber(HKEY key, const WCHAR* name, Field& field)
{
    static_assert(sizeof(Field) == sizeof(DWORD));
    if (const std::optional<DWORD> number = platform::QueryRegistryNumber(key, name)) {
        field = static_cast<Field>(*number);
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

// "Reconnect", beside "Autostart", read through a copy: the relay worker may
// read the flag while it is set.
void ReadReconnect(HKEY key)
{
    DWORD reconnect = AppSettings.reconnect.load();
    ReadNumber(key, u"Reconnect", reconnect);
    AppSettings.reconnect.store(reconnect);
}

// Adds `value` to the values to write when the person changed it.
void AddIfChanged(std::vector<REGVALUEW>& values, const WCHAR* name, const DWORD& value, DWORD stored)
{
    if (!LastStored || value != stored) {
        values.push_back(DwordValue(name, value));
    }
}

// Writes the choices that the person changed in the window, in one change:
// the file is written once, not once for each value. The outputs saved are
// the chosen ones once the person added or deleted one; until then "Split"
// stays as stored, with any saved output that could not be brought back.
void WriteSettings(HKEY key, const StoredChoices& now, const DWORD& split)
{
    const StoredChoices stored = LastStored.value_or(StoredChoices{});
    std::vector<REGVALUEW> values;
    AddIfChanged(values, u"Port", now.port, stored.port);
    AddIfChanged(values, u"Baud", now.baud, stored.baud);
    AddIfChanged(values, u"Autostart", now.autostart, stored.autostart);
    AddIfChanged(values, u"Reconnect", now.reconnect, stored.reconnect);
    if (!LastStored || OutputsChanged) {
        values.push_back(DwordValue(u"Split", split));
    }
    if (!values.empty()) {
        RegSetValuesW(key, values.data(), static_cast<DWORD>(values.size()));
    }
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
    OutputsChanged = false;
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key);
    // A missing key is a first run; any other failure hides settings that exist.
    SettingsUnreadable = opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND;
    if (opened == ERROR_SUCCESS) {
        ReadNumber(key, u"Port", AppSettings.inputPort);
        ReadNumber(key, u"Baud", AppSettings.baudIndex);
        ReadNumber(key, u"Autostart", AppSettings.autostart);
        ReadReconnect(key);
        // Set with tavrel-config, not in the window, so they are only read here.
        ReadNumber(key, u"GpsdHandoff", AppSettings.gpsdHandoff);
        ReadNumber(key, u"GpsdPort", AppSettings.gpsdPort);
        ReadText(key, u"GpsdSocket", AppSettings.gpsdSocket, kGpsdSocketSize);
        RegCloseKey(key);
    }
    LastStored = ChoicesNow();
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
    OutputsChanged = true;
}

void SaveSettings()
{
    if (SettingsUnreadable) {
        return;
    }
    const StoredChoices now = ChoicesNow();
    // Autostart as stored now, which another program may have changed: the
    // shortcut follows it unless the person changed the box.
    DWORD autostart = now.autostart;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, 0, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        if (LastStored && now.autostart == LastStored->autostart) {
            ReadNumber(key, u"Autostart", autostart);
        }
        const DWORD split = EncodeSplit(SplitOutputs);
        WriteSettings(key, now, split);
        RegCloseKey(key);
    }
    LastStored = now;
    OutputsChanged = false;
    UpdateStartupShortcut(autostart != 0);
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
