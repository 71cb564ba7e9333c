#include "settings/network_settings_store.h"

#include <iterator>
#include <optional>

#include "network/address_allow_list.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "settings/registry_values.h"

namespace {

constexpr std::uint32_t kHighestPort = 65535;

}  // namespace

NetworkSettings LoadNetworkSettings()
{
    NetworkSettings settings;
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    settings.tcpPort = key.Number(u"TcpPort").value_or(settings.tcpPort);
    settings.tcpAnyAddress = key.Number(u"TcpAnyAddress").value_or(settings.tcpAnyAddress);
    settings.tcpAllow = key.Text(u"TcpAllow").value_or(u"");
    settings.udpTarget = key.Text(u"UdpTarget").value_or(u"");
    return settings;
}

bool CheckNetworkSettings(const NetworkSettings& settings, std::string& failure)
{
    if (settings.tcpPort > kHighestPort) {
        failure = "TcpPort " + std::to_string(settings.tcpPort) + " is not a port: use 1 to 65535, or 0 for no server";
        return false;
    }
    std::string reason;
    if (!network::AddressAllowList::Parse(platform::ToUtf8(settings.tcpAllow), reason)) {
        failure = "TcpAllow: ";
        failure += reason;
        return false;
    }
    return true;
}

bool SaveNetworkSettings(const NetworkSettings& settings, std::string& failure)
{
    if (!CheckNetworkSettings(settings, failure)) {
        return false;
    }
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    const DWORD port = settings.tcpPort;
    const DWORD anyAddress = settings.tcpAnyAddress != 0 ? 1 : 0;
    const REGVALUEW values[] = {DwordValue(u"TcpPort", port), DwordValue(u"TcpAnyAddress", anyAddress),
                                TextValue(u"TcpAllow", settings.tcpAllow), TextValue(u"UdpTarget", settings.udpTarget)};
    if (!key || RegSetValuesW(key.get(), values, static_cast<DWORD>(std::size(values))) != ERROR_SUCCESS) {
        failure = "the settings cannot be stored in the device's registry";
        return false;
    }
    return true;
}
