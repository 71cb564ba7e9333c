#include "settings/settings_store.h"

#include <optional>
#include <vector>

#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/registry_key.h"
#include "platform/registry_number.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "settings/extra_inputs_store.h"
#include "settings/output_options_store.h"
#include "settings/registry_values.h"
#include "settings/setting_values.h"
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

// Reads a number into a 32-bit field; a value that holds none leaves the
// field at its default.
template <typename Field>
void ReadNumber(HKEY key, SettingId id, Field& field)
{
    static_assert(sizeof(Field) == sizeof(DWORD));
    if (const std::optional<DWORD> number = platform::QueryRegistryNumber(key, RegistryName(id))) {
        field = static_cast<Field>(*number);
    }
}

// Reads a text value into a field. A value that is not text, or not one of
// the setting's (a path too long for a socket), leaves the field alone.
void ReadText(HKEY key, SettingId id, std::u16string& field)
{
    const platform::RegistryKey opened(key, u"", platform::RegistryKey::Open::Existing);
    const SettingValue value = ReadSetting(opened, Setting(id));
    std::string reason;
    if (std::holds_alternative<std::u16string>(value) && CheckSetting(Setting(id), value, reason)) {
        field = std::get<std::u16string>(value);
    }
}

// "Reconnect", beside "Autostart", read through a copy: the relay worker may
// read the flag while it is set.
void ReadReconnect(HKEY key)
{
    DWORD reconnect = AppSettings.reconnect.load();
    ReadNumber(key, SettingId::Reconnect, reconnect);
    AppSettings.reconnect.store(reconnect);
}

// Reads the settings that only tavrel-config changes; the relay takes them
// at each of its starts.
void ReadRelayStartSettings(HKEY key)
{
    ReadNumber(key, SettingId::GpsdHandoff, AppSettings.gpsdHandoff);
    ReadNumber(key, SettingId::GpsdPort, AppSettings.gpsdPort);
    ReadText(key, SettingId::GpsdSocket, AppSettings.gpsdSocket);
    const platform::RegistryKey opened(key, u"", platform::RegistryKey::Open::Existing);
    std::vector<std::string> problems;
    AppSettings.extraInputs = ReadExtraInputs(opened, problems);
    for (std::size_t number = 0; number < AppSettings.portOptions.size(); ++number) {
        AppSettings.portOptions[number] = ReadOutputOptions(opened, OutputSetting(number), problems);
    }
    AppSettings.tcpOptions = ReadOutputOptions(opened, SettingId::OutputTcp, problems);
    AppSettings.udpOptions = ReadOutputOptions(opened, SettingId::OutputUdp, problems);
    AppSettings.inputInit = ReadInputInit(opened, problems);
    for (const std::string& problem : problems) {
        OutputDebugStringW(platform::ToUtf16(problem + "\n").c_str());
    }
}

// Adds `value` to the values to write when the person changed it.
void AddIfChanged(std::vector<REGVALUEW>& values, SettingId id, const DWORD& value, DWORD stored)
{
    if (!LastStored || value != stored) {
        values.push_back(DwordValue(RegistryName(id), value));
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
    AddIfChanged(values, SettingId::Input, now.port, stored.port);
    AddIfChanged(values, SettingId::Baud, now.baud, stored.baud);
    AddIfChanged(values, SettingId::Autostart, now.autostart, stored.autostart);
    AddIfChanged(values, SettingId::Reconnect, now.reconnect, stored.reconnect);
    if (!LastStored || OutputsChanged) {
        values.push_back(DwordValue(RegistryName(SettingId::Outputs), split));
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
        ReadNumber(key, SettingId::Input, AppSettings.inputPort);
        ReadNumber(key, SettingId::Baud, AppSettings.baudIndex);
        ReadNumber(key, SettingId::Autostart, AppSettings.autostart);
        ReadReconnect(key);
        ReadRelayStartSettings(key);
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
    // At most the longest path and its terminator land in the buffer, which
    // holds twice that, so the text stays terminated.
    DWORD size = Setting(SettingId::InstallPath).highest + 1;
    static_assert(sizeof(InstallPath) > kLongestInstallPath + 1);
    if (RegQueryValueExW(key, RegistryName(SettingId::InstallPath), nullptr, nullptr, reinterpret_cast<BYTE*>(InstallPath), &size) !=
        ERROR_SUCCESS) {
        InstallPath[0] = u'\0';
    }
    RegCloseKey(key);
}

void OutputsChangedByPerson()
{
    OutputsChanged = true;
}

void ReloadSetting(SettingId id)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    if (!key || !LastStored) {
        return;
    }
    StoredChoices& stored = *LastStored;
    switch (id) {
    case SettingId::Input:
        ReadNumber(key.get(), id, AppSettings.inputPort);
        stored.port = static_cast<DWORD>(AppSettings.inputPort);
        break;
    case SettingId::Baud:
        ReadNumber(key.get(), id, AppSettings.baudIndex);
        stored.baud = static_cast<DWORD>(AppSettings.baudIndex);
        break;
    case SettingId::Autostart:
        ReadNumber(key.get(), id, AppSettings.autostart);
        stored.autostart = AppSettings.autostart;
        break;
    case SettingId::Reconnect:
        ReadReconnect(key.get());
        stored.reconnect = AppSettings.reconnect.load();
        break;
    case SettingId::GpsdHandoff:
    case SettingId::GpsdPort:
    case SettingId::GpsdSocket: ReadRelayStartSettings(key.get()); break;
    default:
        if (Setting(id).kind == SettingKind::ExtraInput || Setting(id).kind == SettingKind::OutputOptions ||
            Setting(id).kind == SettingKind::Command) {
            ReadRelayStartSettings(key.get());
        }
        break;
    }
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
            ReadNumber(key, SettingId::Autostart, autostart);
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
