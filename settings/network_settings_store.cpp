#include "settings/network_settings_store.h"

#include <iterator>
#include <utility>

#include "platform/registry_key.h"
#include "platform/strings.h"
#include "settings/registry_values.h"
#include "settings/setting_values.h"

NetworkSettings LoadNetworkSettings()
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    const auto number = [&](SettingId id) { return SettingNumber(ReadSetting(key, Setting(id)), Setting(id)); };
    const auto text = [&](SettingId id) { return SettingTextValue(ReadSetting(key, Setting(id)), Setting(id)); };
    NetworkSettings settings;
    settings.tcpPort = number(SettingId::TcpPort);
    settings.tcpAnyAddress = number(SettingId::TcpAnyAddress);
    settings.tcpAllow = text(SettingId::TcpAllow);
    settings.udpTarget = text(SettingId::UdpTarget);
    settings.udpTtl = number(SettingId::UdpTtl);
    settings.udpInterface = text(SettingId::UdpInterface);
    settings.announce = number(SettingId::Announce);
    settings.tcpConnect = text(SettingId::TcpConnect);
    MqttSettings& mqtt = settings.mqtt;
    mqtt.broker = text(SettingId::MqttBroker);
    mqtt.topic = text(SettingId::MqttTopic);
    mqtt.qos = number(SettingId::MqttQos);
    mqtt.retainRmc = number(SettingId::MqttRetainRmc);
    mqtt.tlsCa = text(SettingId::MqttTlsCa);
    mqtt.credentials = text(SettingId::MqttCredentials);
    mqtt.clientId = text(SettingId::MqttClientId);
    mqtt.version = number(SettingId::MqttVersion);
    mqtt.keepAlive = number(SettingId::MqttKeepAlive);
    return settings;
}

bool CheckNetworkSettings(const NetworkSettings& settings, std::string& failure)
{
    const std::pair<SettingId, SettingValue> values[] = {{SettingId::TcpPort, DWORD{settings.tcpPort}},
                                                         {SettingId::TcpAllow, settings.tcpAllow},
                                                         {SettingId::UdpTarget, settings.udpTarget}};
    for (const auto& [id, value] : values) {
        std::string reason;
        if (!CheckSetting(Setting(id), value, reason)) {
            failure = platform::ToUtf8(std::u16string(Setting(id).registryName)) + ": " + reason;
            return false;
        }
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
    const REGVALUEW values[] = {DwordValue(RegistryName(SettingId::TcpPort), port),
                                DwordValue(RegistryName(SettingId::TcpAnyAddress), anyAddress),
                                TextValue(RegistryName(SettingId::TcpAllow), settings.tcpAllow),
                                TextValue(RegistryName(SettingId::UdpTarget), settings.udpTarget)};
    if (!key || RegSetValuesW(key.get(), values, static_cast<DWORD>(std::size(values))) != ERROR_SUCCESS) {
        failure = "the settings cannot be stored in the device's registry";
        return false;
    }
    return true;
}
