#include "app/main_window.h"

#include <algorithm>
#include <optional>

#include "app/program.h"
#include "app/reconnect_option.h"
#include "app/relay_health_notice.h"
#include "app/setting_changes.h"
#include "app/dialog_resource.h"
#include "app/inputs_dialog.h"
#include "app/port_settings_dialog.h"
#include "app/status_dialog.h"
#include "app/tray_and_about.h"
#include "app/typed_port.h"
#include "platform/display.h"
#include "platform/kernel.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "ports/port_discovery.h"
#include "ports/virtual_ports.h"
#include "relay/relay_control.h"
#include "resources/resource_ids.h"
#include "settings/autostart.h"
#include "settings/settings_store.h"
#include "state/app_settings.h"
#include "state/baud_rates.h"
#include "state/port_lists.h"

namespace {

constexpr std::size_t kBaudTextSize = 11;   // any DWORD in decimal, and the terminator
constexpr std::size_t kEntrySize = 10;
constexpr std::size_t kLabelledEntrySize = 16;   // "COM9: gpsd" and the terminator, with room

// The chosen entry of a list whose entries line up with `listed` ports;
// nothing when no entry is chosen or the choice lies past the ports.
std::optional<std::size_t> ChosenEntry(HWND dialog, int id, UINT countMessage, UINT selectionMessage,
                                       std::size_t listed)
{
    const LRESULT count = SendDlgItemMessageW(dialog, id, countMessage, 0, 0);
    const LRESULT selected = SendDlgItemMessageW(dialog, id, selectionMessage, 0, 0);
    if (selected < 0 || count == 0 || static_cast<std::size_t>(selected) >= listed) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(selected);
}

// How the desktop names the window that shows the device: Tavrel, in the menu
// entry tavrel.desktop (packaging/), whatever the device's caption reads.
void NameTheProgramOnTheDesktop()
{
    platform::SetHostIdentity({u"Tavrel", "tavrel"});
}

void InitMainDialog(HWND dialog)
{
    NameTheProgramOnTheDesktop();
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&info);
    NotifyTrayIcon(dialog, NIM_ADD, TrayIconId, LoadIconW(ProgramInstance, MAKEINTRESOURCEW(IDI_TRAY)));
    FillInputPortList(dialog);
    FillBaudList(dialog);
    // An autostart relays before anything else: it needs only the outputs
    // that it chooses again, so the other free outputs are looked for (their
    // ports made and removed one by one) once the relay runs.
    const PortList resumed = OutputsToResume();
    FindFreeOutputs(dialog, resumed, ScanPart::Only);
    CheckDlgButton(dialog, IDC_AUTOSTART, AppSettings.autostart != 0 ? BST_CHECKED : BST_UNCHECKED);
    ShowReconnectOption(dialog);
    ShowRelaySummary(dialog, TakeRelayHealth());
    SetForegroundWindow(dialog);
    ResumeAutostart(dialog, {AddOutput, ToggleRelay, DeleteOutput});
    FindFreeOutputs(dialog, resumed, ScanPart::AllBut);
    WatchSettingChanges(dialog);
}

// Exit and close end the dialog the same way, once relaying is over.
void EndMainDialog(HWND dialog)
{
    WatchSettingChanges(nullptr);
    CloseStatusDialog();
    EndRelayForExit(dialog);
    NotifyTrayIcon(dialog, NIM_DELETE, TrayIconId, LoadIconW(ProgramInstance, MAKEINTRESOURCEW(IDI_TRAY)));
    EndDialog(dialog, 1);
}

void OnInputPortFocus(HWND dialog, WORD notification)
{
    if (notification == CBN_SETFOCUS) {
        SHSipPreference(dialog, SIP_UP);
    } else if (notification == CBN_KILLFOCUS) {
        SHSipPreference(dialog, SIP_FORCEDOWN);
    }
}

// A serial device was plugged in or removed (a deliberate extension: the
// lists follow the built-in ports while the program runs). The relay's own
// outputs stay as they are while it runs.
void OnDevicesChanged(HWND dialog)
{
    RefreshInputPortList(dialog);
    DropBuiltInNumbersFromFreeOutputs(dialog);
    if (RelayControl.running != 1) {
        DropBuiltInNumbersFromSplitOutputs(dialog);
        ShowGpsdOutput(dialog);
    }
}

// The settings of the output chosen in the list; without a choice, a box
// says to choose one.
void ShowChosenOutputSettings(HWND dialog)
{
    const auto position = ChosenEntry(dialog, IDC_OUTPUT_LIST, LB_GETCOUNT, LB_GETCURSEL, SplitOutputs.size());
    if (!position) {
        Complain("Please, choose an output in the list first");
        return;
    }
    ShowPortSettingsDialog(SplitOutputs[*position]);
}

// A person's Add or Delete that moved an output decides the outputs to save.
void ChangeOutputs(HWND dialog, void (*change)(HWND))
{
    const std::size_t before = SplitOutputs.size();
    change(dialog);
    if (SplitOutputs.size() != before) {
        OutputsChangedByPerson();
    }
}

void OnCommand(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDOK: HideToTray(dialog); break;
    case IDC_EXIT:
        AppSettings.autostart = IsDlgButtonChecked(dialog, IDC_AUTOSTART) == BST_CHECKED ? 1 : 0;
        EndMainDialog(dialog);
        break;
    case IDC_INPUT_PORT: OnInputPortFocus(dialog, notification); break;
    case IDC_ADD:
        OutputDebugStringW(u"Add\n");
        ChangeOutputs(dialog, AddOutput);
        break;
    case IDC_DELETE:
        OutputDebugStringW(u"Delete\n");
        ChangeOutputs(dialog, DeleteOutput);
        break;
    case IDC_START_STOP:
        OutputDebugStringW(u"Start\\Stop\n");
        ToggleRelay(dialog);
        break;
    case IDC_ABOUT: ShowAboutBox(); break;
    case IDC_RECONNECT: TakeReconnectOption(dialog); break;
    case IDC_STATUS: ShowStatusDialog(dialog); break;
    case IDC_INPUTS: ShowInputsDialog(dialog); break;
    case IDC_OUTPUT_LIST:
        if (notification == LBN_DBLCLK) {
            ShowChosenOutputSettings(dialog);
        }
        break;
    case IDC_PORT_SETTINGS: ShowChosenOutputSettings(dialog); break;
    default: break;
    }
}

// Takes the input port from the box into AppSettings; false when a typed
// text names no port (the user has been told).
bool TakeInputPort(HWND dialog)
{
    const LRESULT selected = SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_GETCURSEL, 0, 0);
    if (selected != CB_ERR) {
        if (static_cast<std::size_t>(selected) < DetectedPorts.size()) {
            AppSettings.inputPort = DetectedPorts[static_cast<std::size_t>(selected)];
        }
        return true;
    }
    WCHAR text[kTypedPortLength + 1] = {};
    GetWindowTextW(GetDlgItem(dialog, IDC_INPUT_PORT), text, kTypedPortLength + 1);
    long long number = 0;
    if (!ParseTypedPort(text, number)) {
        MessageBoxW(nullptr, u"Please, choose a serial port from the list or enter manually one COMx", u"Tavrel",
                    MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // A number above 9 or below 0 is ignored: the earlier input port stays.
    if (static_cast<unsigned long long>(number) <= 9) {
        AppSettings.inputPort = static_cast<std::int32_t>(number);
    }
    return true;
}

}  // namespace

BOOL MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: InitMainDialog(dialog); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE:
        // The autostart flag keeps the value it was loaded with.
        EndMainDialog(dialog);
        return TRUE;
    case TrayMessage: RestoreFromTray(dialog, wParam, lParam); return FALSE;
    case RelayEndedMessage:
        RelayEnded(dialog);
        TakeWaitingSettingChanges(dialog);
        return TRUE;
    case SettingChangedMessage: OnSettingChanged(dialog, wParam); return TRUE;
    case RelayHealthChangedMessage: OnRelayHealthChanged(dialog, wParam); return TRUE;
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVNODES_CHANGED) {
            OnDevicesChanged(dialog);
        }
        return TRUE;
    default: return FALSE;
    }
}

void FillBaudList(HWND dialog)
{
    for (DWORD rate : kBaudRates) {
        WCHAR text[kBaudTextSize] = {};
        StringCchPrintfW(text, kBaudTextSize, u"%u", rate);
        SendDlgItemMessageW(dialog, IDC_BAUD, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    if (AppSettings.baudIndex >= 0) {
        SendDlgItemMessageW(dialog, IDC_BAUD, CB_SETCURSEL, static_cast<WPARAM>(AppSettings.baudIndex), 0);
    }
}

namespace {

// Appends "COM<port>:" to a list.
void AppendPortEntry(HWND dialog, int id, UINT addMessage, PortNumber port)
{
    WCHAR entry[kEntrySize] = {};
    StringCchPrintfW(entry, kEntrySize, u"COM%d:", port);
    SendDlgItemMessageW(dialog, id, addMessage, 0, reinterpret_cast<LPARAM>(entry));
}

void ErasePort(PortList& ports, std::size_t position)
{
    ports.erase(ports.begin() + static_cast<std::ptrdiff_t>(position));
}

}  // namespace

void ShowGpsdOutput(HWND dialog)
{
    if (AppSettings.gpsdHandoff != 0) {
        ShowOutputList(dialog);
    }
}

void ShowOutputList(HWND dialog)
{
    // An entry cannot be renamed: the list is written anew, in the same order.
    const std::optional<PortNumber> gpsd = GpsdPortAmong(SplitOutputs);
    SendDlgItemMessageW(dialog, IDC_OUTPUT_LIST, LB_RESETCONTENT, 0, 0);
    for (const PortNumber port : SplitOutputs) {
        WCHAR entry[kLabelledEntrySize] = {};
        StringCchPrintfW(entry, kLabelledEntrySize, port == gpsd ? u"COM%d: gpsd" : u"COM%d:", port);
        SendDlgItemMessageW(dialog, IDC_OUTPUT_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
}

void AddOutput(HWND dialog)
{
    const auto position = ChosenEntry(dialog, IDC_FREE_OUTPUTS, CB_GETCOUNT, CB_GETCURSEL, FreeOutputs.size());
    if (!position) {
        return;
    }
    const PortNumber port = FreeOutputs[*position];
    if (!ProbeVirtualPort(port)) {
        return;
    }
    SendDlgItemMessageW(dialog, IDC_FREE_OUTPUTS, CB_DELETESTRING, *position, 0);
    SetDlgItemTextW(dialog, IDC_FREE_OUTPUTS, u"");
    SplitOutputs.push_back(port);
    AppendPortEntry(dialog, IDC_OUTPUT_LIST, LB_ADDSTRING, port);
    ErasePort(FreeOutputs, *position);
    ShowGpsdOutput(dialog);
}

void DeleteOutput(HWND dialog)
{
    const auto position = ChosenEntry(dialog, IDC_OUTPUT_LIST, LB_GETCOUNT, LB_GETCURSEL, SplitOutputs.size());
    if (!position) {
        return;
    }
    SendDlgItemMessageW(dialog, IDC_OUTPUT_LIST, LB_DELETESTRING, *position, 0);
    const PortNumber port = SplitOutputs[*position];
    FreeOutputs.push_back(port);
    AppendPortEntry(dialog, IDC_FREE_OUTPUTS, CB_ADDSTRING, port);
    ErasePort(SplitOutputs, *position);
    ShowGpsdOutput(dialog);
}

void ToggleRelay(HWND dialog)
{
    if (RelayControl.running == 1) {
        StopRelay(dialog);
        TakeWaitingSettingChanges(dialog);
        return;
    }
    if (!TakeInputPort(dialog)) {
        return;
    }
    const LRESULT count = SendDlgItemMessageW(dialog, IDC_BAUD, CB_GETCOUNT, 0, 0);
    const LRESULT baud = SendDlgItemMessageW(dialog, IDC_BAUD, CB_GETCURSEL, 0, 0);
    if (baud == CB_ERR || count == 0) {
        return;
    }
    AppSettings.baudIndex = static_cast<BaudIndex>(baud);
    if (SplitOutputs.empty()) {
        return;
    }
    StartRelay(dialog);
}
