#include "app/network_reach_dialog.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_resource.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "relay/network_outputs.h"
#include "resources/resource_ids.h"
#include "settings/network_settings_store.h"
#include "settings/setting_values.h"

namespace {

// A box and the setting it shows, as tavrel-config words its value.
struct SettingBox {
    WORD id;
    SettingId setting;
    const char* label;
};
constexpr SettingBox kTextBoxes[] = {{IDC_TCP_CONNECT, SettingId::TcpConnect, "Send to"},
                                     {IDC_MQTT_BROKER, SettingId::MqttBroker, "MQTT to"},
                                     {IDC_MQTT_TOPIC, SettingId::MqttTopic, "Topic"},
                                     {IDC_MQTT_TLS_CA, SettingId::MqttTlsCa, "CA file"},
                                     {IDC_MQTT_CREDENTIALS, SettingId::MqttCredentials, "Login file"}};
constexpr SettingBox kChoiceBoxes[] = {{IDC_ANNOUNCE, SettingId::Announce, "Announce"},
                                       {IDC_MQTT_QOS, SettingId::MqttQos, "QoS"}};
constexpr const char16_t* kAnnounceChoices[] = {u"auto", u"on", u"off"};
constexpr const char16_t* kQosChoices[] = {u"0", u"1"};

std::span<const char16_t* const> ChoicesOf(const SettingBox& box)
{
    return box.id == IDC_ANNOUNCE ? std::span<const char16_t* const>(kAnnounceChoices)
                                  : std::span<const char16_t* const>(kQosChoices);
}

// The value stored for `setting` as its box shows it: "off" and the like as an empty box.
std::u16string BoxText(const platform::RegistryKey& key, SettingId setting)
{
    const SettingValue value = ReadSetting(key, Setting(setting));
    return std::holds_alternative<std::u16string>(value) || std::holds_alternative<std::monostate>(value)
               ? SettingTextValue(value, Setting(setting))
               : platform::ToUtf16(SettingText(Setting(setting), value));
}

void FillDialog(HWND dialog)
{
    for (const SettingBox& box : kChoiceBoxes) {
        for (const char16_t* choice : ChoicesOf(box)) {
            AddChoice(dialog, box.id, choice);
        }
    }
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    for (const SettingBox& box : kTextBoxes) {
        SetDlgItemTextW(dialog, box.id, BoxText(key, box.setting).c_str());
    }
    for (const SettingBox& box : kChoiceBoxes) {
        const std::u16string shown = platform::ToUtf16(SettingText(Setting(box.setting), ReadSetting(key, Setting(box.setting))));
        const std::span<const char16_t* const> choices = ChoicesOf(box);
        const auto at = std::find(choices.begin(), choices.end(), shown);
        SendDlgItemMessageW(dialog, box.id, CB_SETCURSEL, static_cast<WPARAM>(at - choices.begin()), 0);
    }
    const bool retain = SettingNumber(ReadSetting(key, Setting(SettingId::MqttRetainRmc)), Setting(SettingId::MqttRetainRmc)) != 0;
    CheckDlgButton(dialog, IDC_MQTT_RETAIN_RMC, retain ? BST_CHECKED : BST_UNCHECKED);
}

// What a box says, as tavrel-config would be given it.
std::string Typed(HWND dialog, const SettingBox& box)
{
    if (box.id == IDC_ANNOUNCE || box.id == IDC_MQTT_QOS) {
        const int chosen = Choice(dialog, box.id);
        return chosen < 0 ? "" : platform::ToUtf8(ChoicesOf(box)[static_cast<std::size_t>(chosen)]);
    }
    return platform::ToUtf8(ItemText(dialog, box.id));
}

// Parses `box` into `values`; false, with a box saying why, when it is not a value.
bool ReadBox(HWND dialog, const SettingBox& box, std::vector<std::pair<SettingId, SettingValue>>& values)
{
    std::string reason;
    const std::optional<SettingValue> value = ParseSetting(Setting(box.setting), Typed(dialog, box), reason);
    if (!value) {
        Complain(std::string(box.label) + ": " + reason);
        return false;
    }
    values.emplace_back(box.setting, *value);
    return true;
}

// OK: every box checked first, so that nothing is stored when one is wrong;
// then stored, and the network outputs whose settings changed are remade.
bool StoreReachSettings(HWND dialog)
{
    std::vector<std::pair<SettingId, SettingValue>> values;
    for (const auto& boxes : {std::span<const SettingBox>(kTextBoxes), std::span<const SettingBox>(kChoiceBoxes)}) {
        for (const SettingBox& box : boxes) {
            if (!ReadBox(dialog, box, values)) {
                return false;
            }
        }
    }
    values.emplace_back(SettingId::MqttRetainRmc, DWORD{IsDlgButtonChecked(dialog, IDC_MQTT_RETAIN_RMC) == BST_CHECKED ? 1U : 0U});
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    for (const auto& [setting, value] : values) {
        if (!WriteSetting(key, Setting(setting), value)) {
            Complain("The network settings cannot be stored in the device's registry");
            return false;
        }
    }
    UseNetworkSettings(LoadNetworkSettings());
    return true;
}

BOOL NetworkReachProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        FillDialog(dialog);
        return TRUE;
    }
    return FormProcedure(dialog, message, wParam, {-1, nullptr, StoreReachSettings});
}

}  // namespace

void ShowNetworkReachDialog()
{
    RunDialog(IDD_NETWORK_REACH, IDD_NETWORK_REACH, NetworkReachProcedure, 0);
}
