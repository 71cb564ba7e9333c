#include "app/network_settings_form.h"

#include <optional>
#include <vector>

#include "app/dialog_resource.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"
#include "settings/setting_values.h"

namespace {

constexpr std::size_t kPortTextSize = 12;

std::u16string PortText(std::uint32_t port)
{
    WCHAR text[kPortTextSize] = {};
    StringCchPrintfW(text, kPortTextSize, u"%u", port);
    return text;
}

bool Ticked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// A port as a person types it: what tavrel-config takes for one, but not "off".
bool ParsePort(const std::u16string& text, std::uint32_t& port)
{
    std::string reason;
    const std::optional<SettingValue> value =
        ParseSetting(Setting(SettingId::TcpPort), platform::ToUtf8(text), reason);
    const DWORD* number = value ? std::get_if<DWORD>(&*value) : nullptr;
    if (number == nullptr || *number == 0) {
        return false;
    }
    port = *number;
    return true;
}

}  // namespace

void OfferNmeaTcpPort(HWND dialog)
{
    const std::u16string offered = PortText(kNmeaTcpPort);
    SendDlgItemMessageW(dialog, IDC_TCP_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(offered.c_str()));
}

void ShowNetworkSettings(HWND dialog, const NetworkSettings& settings)
{
    CheckDlgButton(dialog, IDC_TCP_SERVER, settings.tcpPort != 0 ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_TCP_PORT, settings.tcpPort != 0 ? PortText(settings.tcpPort).c_str() : u"");
    CheckDlgButton(dialog, IDC_TCP_ANY_ADDRESS, settings.tcpAnyAddress != 0 ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_TCP_ALLOW, settings.tcpAllow.c_str());
    SetDlgItemTextW(dialog, IDC_UDP_TARGET, settings.udpTarget.c_str());
    EnableNetworkBoxes(dialog);
}

void OnTcpServerClicked(HWND dialog)
{
    const std::u16string port = ItemText(dialog, IDC_TCP_PORT);
    if (Ticked(dialog, IDC_TCP_SERVER) && (port.empty() || port == u"0")) {
        SetDlgItemTextW(dialog, IDC_TCP_PORT, PortText(kNmeaTcpPort).c_str());
    }
    EnableNetworkBoxes(dialog);
}

// The allow list counts for every client, this computer's too, so it is
// open whenever the server is.
void EnableNetworkBoxes(HWND dialog)
{
    const BOOL server = Ticked(dialog, IDC_TCP_SERVER) ? TRUE : FALSE;
    for (const int id : {IDC_TCP_PORT, IDC_TCP_ANY_ADDRESS, IDC_TCP_ALLOW}) {
        EnableWindow(GetDlgItem(dialog, id), server);
    }
}

bool ReadNetworkSettings(HWND dialog, NetworkSettings& settings, std::string& failure)
{
    NetworkSettings read;
    if (Ticked(dialog, IDC_TCP_SERVER)) {
        const std::u16string port = ItemText(dialog, IDC_TCP_PORT);
        if (!ParsePort(port, read.tcpPort)) {
            failure = "TCP server port \"" + platform::ToUtf8(port) + "\": enter a number from 1 to " +
                      std::to_string(Setting(SettingId::TcpPort).highest);
            return false;
        }
    }
    read.tcpAnyAddress = Ticked(dialog, IDC_TCP_ANY_ADDRESS) ? 1 : 0;
    read.tcpAllow = ItemText(dialog, IDC_TCP_ALLOW);
    read.udpTarget = ItemText(dialog, IDC_UDP_TARGET);
    settings = read;
    return true;
}
