#include "app/status_dialog.h"

#include <chrono>
#include <string>
#include <vector>

#include "app/dialog_resource.h"
#include "app/network_reach_dialog.h"
#include "app/network_settings_form.h"
#include "app/program.h"
#include "app/relay_health_notice.h"
#include "app/status_lines.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "relay/network_outputs.h"
#include "resources/resource_ids.h"
#include "settings/network_settings_store.h"
#include "status/input_findings.h"

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMilliseconds = 1000;

// The open dialog and the main window it was opened from; null while closed.
HWND statusDialog = nullptr;
HWND statusOwner = nullptr;

std::u16string EntryText(HWND list, int index)
{
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    std::vector<WCHAR> text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, u'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

// Changes only the lines that changed, so that the list keeps its place
// while a person scrolls it.
void ShowLines(HWND dialog, const std::vector<std::u16string>& lines)
{
    const HWND list = GetDlgItem(dialog, IDC_HEALTH);
    const int shown = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    const int wanted = static_cast<int>(lines.size());
    for (int index = 0; index < wanted; ++index) {
        const auto text = reinterpret_cast<LPARAM>(lines[static_cast<std::size_t>(index)].c_str());
        if (index >= shown) {
            SendMessageW(list, LB_ADDSTRING, 0, text);
        } else if (EntryText(list, index) != lines[static_cast<std::size_t>(index)]) {
            SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
            SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(index), text);
        }
    }
    for (int index = shown - 1; index >= wanted; --index) {
        SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }
}

void RefreshStatus(HWND dialog)
{
    RelayHealth health = TakeRelayHealth();
    AddInputFindings(health);
    ShowLines(dialog, StatusLines(health, std::chrono::system_clock::now()));
    ShowRelaySummary(statusOwner, health);
}

bool SameSettings(const NetworkSettings& left, const NetworkSettings& right)
{
    return left.tcpPort == right.tcpPort && left.tcpAnyAddress == right.tcpAnyAddress &&
           left.tcpAllow == right.tcpAllow && left.udpTarget == right.udpTarget;
}

// Settings as stored already are only checked: storing them again would
// restart the network outputs and cut every TCP client off for nothing.
bool StoreIfChanged(const NetworkSettings& settings, std::string& failure)
{
    if (SameSettings(settings, LoadNetworkSettings())) {
        return CheckNetworkSettings(settings, failure);
    }
    if (!SaveNetworkSettings(settings, failure)) {
        return false;
    }
    UseNetworkSettings(settings);
    return true;
}

void ShowRefusal(const std::string& failure)
{
    MessageBoxW(nullptr, platform::ToUtf16(failure).c_str(), u"Tavrel", MB_OK | MB_ICONEXCLAMATION);
}

// OK and Apply: the boxes' settings, checked, stored and put to use by a run
// that is up. False, with a box saying why, when they cannot be stored.
bool StoreSettings(HWND dialog)
{
    // What the boxes do not show (the multicast hops and interface) stays as stored.
    NetworkSettings settings = LoadNetworkSettings();
    std::string failure;
    if (!ReadNetworkSettings(dialog, settings, failure) || !StoreIfChanged(settings, failure)) {
        ShowRefusal(failure);
        return false;
    }
    RefreshStatus(dialog);
    return true;
}

void CloseStatus(HWND dialog)
{
    KillTimer(dialog, kRefreshTimer);
    statusDialog = nullptr;
    statusOwner = nullptr;
    EndDialog(dialog, 1);
}

BOOL InitStatus(HWND dialog, HWND owner)
{
    statusDialog = dialog;
    statusOwner = owner;
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&info);
    OfferNmeaTcpPort(dialog);
    ShowNetworkSettings(dialog, LoadNetworkSettings());
    RefreshStatus(dialog);
    SetTimer(dialog, kRefreshTimer, kRefreshMilliseconds, nullptr);
    SetForegroundWindow(dialog);
    return TRUE;
}

void OnStatusCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDOK:
        if (StoreSettings(dialog)) {
            CloseStatus(dialog);
        }
        break;
    case IDC_APPLY: StoreSettings(dialog); break;
    case IDCANCEL: CloseStatus(dialog); break;
    case IDC_TCP_SERVER: OnTcpServerClicked(dialog); break;
    case IDC_REACH:
        ShowNetworkReachDialog();
        RefreshStatus(dialog);
        break;
    default: break;
    }
}

BOOL StatusProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return InitStatus(dialog, reinterpret_cast<HWND>(lParam));
    case WM_COMMAND: OnStatusCommand(dialog, LOWORD(wParam)); return TRUE;
    case WM_TIMER:
        if (wParam != kRefreshTimer) {
            return FALSE;
        }
        RefreshStatus(dialog);
        return TRUE;
    case WM_CLOSE: CloseStatus(dialog); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void ShowStatusDialog(HWND mainDialog)
{
    if (statusDialog != nullptr) {
        SetForegroundWindow(statusDialog);
        return;
    }
    RunDialog(IDD_STATUS_PORTRAIT, IDD_STATUS_LANDSCAPE, StatusProcedure, reinterpret_cast<LPARAM>(mainDialog));
}

void ShowStoredNetworkSettings(const NetworkSettings& settings)
{
    if (statusDialog != nullptr) {
        ShowNetworkSettings(statusDialog, settings);
    }
}

void CloseStatusDialog()
{
    if (statusDialog != nullptr) {
        CloseStatus(statusDialog);
    }
}
