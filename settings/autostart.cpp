#include "settings/autostart.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/registry_number.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"
#include "settings/settings_store.h"
#include "settings/split_mask.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "state/setting_table.h"

namespace {

constexpr std::size_t kPortTextSize = 10;

// The saved outputs' mask; 0 when "Split" holds no number.
DWORD ReadSplit(HKEY key)
{
    return platform::QueryRegistryNumber(key, RegistryName(SettingId::Outputs)).value_or(0);
}

// Chooses each saved output that can still be created, by its number.
void RestoreOutputs(HWND dialog, DWORD mask, const MainWindowCommands& commands)
{
    for (PortNumber n : DecodeSplit(mask)) {
        const auto found = std::find(FreeOutputs.begin(), FreeOutputs.end(), n);
        if (found == FreeOutputs.end()) {
            continue;
        }
        SendDlgItemMessageW(dialog, IDC_FREE_OUTPUTS, CB_SETCURSEL,
                            static_cast<WPARAM>(found - FreeOutputs.begin()), 0);
        commands.addOutput(dialog);
    }
}

// The settings key when an autostart is to run; null when it is not.
HKEY OpenKeyToResume()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    if (AppSettings.autostart == 0) {
        RegCloseKey(key);
        return nullptr;
    }
    return key;
}

}  // namespace

PortList OutputsToResume()
{
    HKEY key = OpenKeyToResume();
    if (key == nullptr) {
        return {};
    }
    const PortList saved = DecodeSplit(ReadSplit(key));
    RegCloseKey(key);
    return saved;
}

void ResumeAutostart(HWND dialog, const MainWindowCommands& commands)
{
    HKEY key = OpenKeyToResume();
    if (key == nullptr) {
        return;
    }
    ShowSavedInputPort(dialog);
    RestoreOutputs(dialog, ReadSplit(key), commands);
    commands.toggleRelay(dialog);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    RegCloseKey(key);
}

void ShowSavedInputPort(HWND dialog)
{
    // A saved port whose name does not fit leaves the box as it is.
    WCHAR text[kPortTextSize] = {};
    if (SUCCEEDED(StringCchPrintfW(text, kPortTextSize, u"COM%d", AppSettings.inputPort))) {
        SetDlgItemTextW(dialog, IDC_INPUT_PORT, text);
    }
}

void RestoreSavedOutputs(HWND dialog, const MainWindowCommands& commands)
{
    // Bounded: a Delete that took nothing away must not hold the window.
    for (std::size_t left = SplitOutputs.size(); left > 0; --left) {
        SendDlgItemMessageW(dialog, IDC_OUTPUT_LIST, LB_SETCURSEL, 0, 0);
        commands.deleteOutput(dialog);
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RestoreOutputs(dialog, ReadSplit(key), commands);
        RegCloseKey(key);
    }
}
