#include "status/status_service.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/answer_socket.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "relay/relay_health.h"
#include "settings/setting_values.h"
#include "status/health_report.h"
#include "status/input_findings.h"

namespace {

// The socket while the service runs. Started and stopped on the UI thread;
// the socket's own thread only calls Answer.
std::unique_ptr<platform::AnswerSocket> statusSocket;
// Set before the socket opens, read only by the socket's thread.
SettingChangedHandler settingChanged = nullptr;

std::string SettingChanged(std::string_view name)
{
    const SettingEntry* entry = SettingOfRegistryName(platform::ToUtf16(std::string(name)));
    if (entry == nullptr) {
        return "unknown setting\n";
    }
    return settingChanged != nullptr && settingChanged(entry->id) ? kSettingChangedTaken : "not taken\n";
}

RelayHealth HealthWithFindings()
{
    RelayHealth health = TakeRelayHealth();
    AddInputFindings(health);
    return health;
}

std::string Answer(std::string_view request)
{
    if (request.starts_with(kSettingChangedRequest)) {
        return SettingChanged(request.substr(std::string_view(kSettingChangedRequest).size()));
    }
    if (request == "json") {
        return HealthJson(HealthWithFindings());
    }
    if (request == "table") {
        return HealthTable(HealthWithFindings());
    }
    return "unknown request: ask for json or table\n";
}

}  // namespace

BOOL StartStatusService(SettingChangedHandler onSettingChanged)
{
    if (statusSocket != nullptr) {
        return TRUE;
    }
    settingChanged = onSettingChanged;
    int error = 0;
    statusSocket = platform::AnswerSocket::Open(kStatusSocketName, Answer, error);
    if (statusSocket == nullptr) {
        const std::string line =
            std::string("Tavrel cannot answer tavrel-status: ") + std::strerror(error) + "\n";
        OutputDebugStringW(platform::ToUtf16(line).c_str());
        return FALSE;
    }
    return TRUE;
}

void StopStatusService()
{
    statusSocket.reset();
}
