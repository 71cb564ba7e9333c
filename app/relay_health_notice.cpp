#include "app/relay_health_notice.h"

#include <string>

#include "app/status_lines.h"
#include "app/tray_and_about.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "relay/relay_control.h"

namespace {

// "TCP server: <why>" and "UDP output: <why>", a line each, for those that failed.
std::u16string NetworkFailureText(const NetworkHealth& network)
{
    std::u16string text;
    if (!network.tcpFailure.empty()) {
        text += FailureText(u"TCP server", network.tcpFailure);
    }
    if (!network.udpFailure.empty()) {
        if (!text.empty()) {
            text += u"\n";
        }
        text += FailureText(u"UDP output", network.udpFailure);
    }
    return text;
}

}  // namespace

void ShowRelaySummary(HWND mainDialog, const RelayHealth& health)
{
    ShowTrayTip(mainDialog, platform::ToUtf16(RelaySummary(health)));
}

void OnRelayHealthChanged(HWND mainDialog, WPARAM what)
{
    const RelayHealth health = TakeRelayHealth();
    ShowRelaySummary(mainDialog, health);
    if (what != kNetworkOutputFailed) {
        return;
    }
    const std::u16string failure = NetworkFailureText(health.network);
    if (!failure.empty()) {
        // The relay posted and went on; only this window's thread waits for the answer.
        MessageBoxW(nullptr, failure.c_str(), u"Tavrel", MB_OK | MB_ICONEXCLAMATION);
    }
}
