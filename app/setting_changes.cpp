#include "app/setting_changes.h"

#include <atomic>
#include <bitset>

#include "app/main_window.h"
#include "app/reconnect_option.h"
#include "app/status_dialog.h"
#include "platform/user.h"
#include "relay/network_outputs.h"
#include "relay/relay_control.h"
#include "resources/resource_ids.h"
#include "settings/autostart.h"
#include "settings/network_settings_store.h"
#include "settings/settings_store.h"
#include "state/app_settings.h"

namespace {

std::atomic<HWND> watchingWindow{nullptr};
// The changes that wait for the run to end, by SettingId.
std::bitset<kSettingTable.size()> waiting;

bool RunExists()
{
    return RelayControl.running == 1 || RelayControl.workerThread.get() != nullptr;
}

// The stored input in the box, with no entry of the list chosen: the relay's
// next start takes the box's text.
void ShowInputPort(HWND dialog)
{
    SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ShowSavedInputPort(dialog);
}

// A change to what the relay reads at its start, taken while no run exists.
void TakeRelayChoice(HWND dialog, SettingId id)
{
    if (id == SettingId::Outputs) {
        RestoreSavedOutputs(dialog, {AddOutput, ToggleRelay, DeleteOutput});
        ShowGpsdOutput(dialog);
        return;
    }
    ReloadSetting(id);
    if (id == SettingId::Input) {
        ShowInputPort(dialog);
    } else if (id == SettingId::Baud) {
        SendDlgItemMessageW(dialog, IDC_BAUD, CB_SETCURSEL, static_cast<WPARAM>(AppSettings.baudIndex), 0);
    } else {
        ShowOutputList(dialog);   // the gpsd mark follows the hand-off's settings
    }
}

}  // namespace

void WatchSettingChanges(HWND dialog)
{
    watchingWindow = dialog;
}

bool PostSettingChange(SettingId id)
{
    const HWND window = watchingWindow.load();
    return window != nullptr && PostMessageW(window, SettingChangedMessage, static_cast<WPARAM>(id), 0) != FALSE;
}

void OnSettingChanged(HWND dialog, WPARAM wParam)
{
    if (wParam >= kSettingTable.size()) {
        return;
    }
    const SettingEntry& entry = kSettingTable[wParam];
    if (entry.takesEffect == SettingTakesEffect::AtRelayStart) {
        if (RunExists()) {
            waiting.set(wParam);
        } else {
            TakeRelayChoice(dialog, entry.id);
        }
        return;
    }
    switch (entry.id) {
    case SettingId::Autostart:
        ReloadSetting(entry.id);
        CheckDlgButton(dialog, IDC_AUTOSTART, AppSettings.autostart != 0 ? BST_CHECKED : BST_UNCHECKED);
        break;
    case SettingId::Reconnect:
        ReloadSetting(entry.id);
        ShowReconnectOption(dialog);
        break;
    default: {
        const NetworkSettings settings = LoadNetworkSettings();
        UseNetworkSettings(settings);
        ShowStoredNetworkSettings(settings);
        break;
    }
    }
}

void TakeWaitingSettingChanges(HWND dialog)
{
    if (RunExists()) {
        return;
    }
    for (std::size_t id = 0; id < waiting.size(); ++id) {
        if (waiting.test(id)) {
            TakeRelayChoice(dialog, static_cast<SettingId>(id));
        }
    }
    waiting.reset();
}
