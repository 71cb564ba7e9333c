#include "settings/setting_values.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "network/address_allow_list.h"
#include "network/udp_target.h"
#include "platform/strings.h"
#include "settings/command_text.h"
#include "settings/input_description.h"
#include "settings/output_description.h"
#include "settings/split_mask.h"

namespace {

std::optional<DWORD> WholeNumber(std::string_view text)
{
    DWORD number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty() ? std::optional(number)
                                                                                   : std::nullopt;
}

bool StartsWithCom(std::string_view text)
{
    return text.size() >= 3 &&
           std::equal(text.begin(), text.begin() + 3, "COM", [](char a, char b) { return (a & ~0x20) == b; });
}

std::vector<std::string_view> Words(std::string_view typed)
{
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= typed.size(); ++at) {
        if (at == typed.size() || typed[at] == ' ' || typed[at] == ',' || typed[at] == '\t') {
            if (at > start) {
                words.push_back(typed.substr(start, at - start));
            }
            start = at + 1;
        }
    }
    return words;
}

// "COM2,COM3", "2 3" or "none" as a "Split" mask.
std::optional<DWORD> OutputsMask(std::string_view typed)
{
    const std::vector<std::string_view> words = Words(typed);
    if (words.size() == 1 && words[0] == "none") {
        return 0;
    }
    PortList outputs;
    for (const std::string_view word : words) {
        const std::optional<DWORD> number = ComNumber(word);
        if (!number || *number > kHighestOutput) {
            return std::nullopt;
        }
        outputs.push_back(static_cast<PortNumber>(*number));
    }
    return outputs.empty() ? std::nullopt : std::optional(EncodeSplit(outputs));
}

std::string OutputsText(DWORD mask)
{
    std::string text;
    for (const PortNumber output : DecodeSplit(mask)) {
        text += (text.empty() ? "COM" : " COM") + std::to_string(output);
    }
    return text.empty() ? "none" : text;
}

std::optional<DWORD> BaudIndexOfRate(std::string_view typed)
{
    const std::optional<DWORD> rate = WholeNumber(typed);
    const auto found = std::find(kBaudRates.begin(), kBaudRates.end(), rate.value_or(0));
    return found == kBaudRates.end() ? std::nullopt : std::optional(static_cast<DWORD>(found - kBaudRates.begin()));
}

std::optional<DWORD> TcpPortNumber(std::string_view typed)
{
    if (typed == "off") {
        return 0;
    }
    // Digits only: from_chars alone would take "+1" or leading blanks elsewhere.
    const std::optional<DWORD> port =
        typed.size() <= 5 && typed.find_first_not_of("0123456789") == std::string_view::npos ? WholeNumber(typed)
                                                                                               : std::nullopt;
    return port && *port >= 1 ? port : std::nullopt;
}

std::optional<DWORD> SwitchNumber(std::string_view typed)
{
    if (typed == "on" || typed == "off") {
        return typed == "on" ? 1U : 0U;
    }
    return std::nullopt;
}

std::optional<DWORD> MqttVersionNumber(std::string_view typed)
{
    if (typed == "5" || typed == "3.1.1") {
        return typed == "5" ? 5U : 4U;
    }
    return std::nullopt;
}

// A typed number for the number kinds; nothing when the words are not one.
std::optional<SettingValue> TypedNumber(const SettingEntry& entry, std::string_view typed)
{
    std::optional<DWORD> number;
    switch (entry.kind) {
    case SettingKind::Switch: number = SwitchNumber(typed); break;
    case SettingKind::ComPort: number = ComNumber(typed); break;
    case SettingKind::GpsdOutput:
        if (typed == "first") {
            return SettingValue{};   // stored as no value: gpsd gets the first output
        }
        number = ComNumber(typed);
        break;
    case SettingKind::Baud: number = BaudIndexOfRate(typed); break;
    case SettingKind::Outputs: number = OutputsMask(typed); break;
    case SettingKind::TcpPort: number = TcpPortNumber(typed); break;
    case SettingKind::Count:
    case SettingKind::Qos: number = WholeNumber(typed); break;
    case SettingKind::Announce:
        if (typed == "auto") {
            return SettingValue{};   // stored as no value: announced when other computers may connect
        }
        number = SwitchNumber(typed);
        break;
    case SettingKind::MqttVersion: number = MqttVersionNumber(typed); break;
    default: return std::nullopt;
    }
    return number ? std::optional<SettingValue>(*number) : std::nullopt;
}

bool IsText(SettingKind kind)
{
    return kind == SettingKind::Path || kind == SettingKind::Addresses || kind == SettingKind::Target ||
           kind == SettingKind::ExtraInput || kind == SettingKind::Command || kind == SettingKind::OutputOptions ||
           kind == SettingKind::Interface || kind == SettingKind::Targets || kind == SettingKind::Topic ||
           kind == SettingKind::File || kind == SettingKind::ClientId;
}

// The kinds whose "off" is no text at all.
bool IsOffWhenEmpty(SettingKind kind)
{
    return kind == SettingKind::Target || kind == SettingKind::Targets || kind == SettingKind::File;
}

bool CheckNumber(const SettingEntry& entry, DWORD number, std::string& reason)
{
    const bool fits = entry.kind == SettingKind::Outputs ? EncodeSplit(DecodeSplit(number)) == number
                      : entry.kind == SettingKind::Switch ? true
                      : entry.kind == SettingKind::Count  ? number >= 1 && number <= entry.highest
                      : entry.kind == SettingKind::MqttVersion ? number == 4 || number == 5
                                                           : number <= entry.highest || number == entry.defaultNumber;
    if (!fits) {
        reason = std::to_string(number) + " is out of range: " + (entry.kind == SettingKind::Count ? "1 to " : "at most ") +
                 std::to_string(entry.highest);
    }
    return fits;
}

bool HasNone(const std::string& text, const char* characters, const char* why, std::string& reason)
{
    if (text.find_first_of(characters) != std::string::npos) {
        reason = why;
        return false;
    }
    return true;
}

// "host:port,host:port": each a target, at most kMostTcpTargets.
bool CheckTargets(const std::string& text, std::string& reason)
{
    const std::vector<std::string_view> targets = tavrel::network::TargetList(text);
    if (targets.size() > kMostTcpTargets) {
        reason = "more than " + std::to_string(kMostTcpTargets) + " targets";
        return false;
    }
    return std::all_of(targets.begin(), targets.end(), [&](std::string_view target) {
        return tavrel::network::ParseUdpTarget(target, reason).has_value();
    });
}

// A topic to publish to: not empty, and without the wildcards that only
// subscriptions may use.
bool CheckTopic(const std::string& text, std::string& reason)
{
    if (text.empty() || text.find_first_of("#+") != std::string::npos) {
        reason = "a topic is not empty and has no # or +";
        return false;
    }
    return true;
}

bool CheckText(const SettingEntry& entry, const std::u16string& text, std::string& reason)
{
    const std::string utf8 = platform::ToUtf8(text);
    if (utf8.size() > entry.highest || utf8.find('\n') != std::string::npos) {
        reason = "more than one line of at most " + std::to_string(entry.highest) + " bytes";
        return false;
    }
    switch (entry.kind) {
    case SettingKind::Path:
        if (utf8.empty()) {
            reason = "an empty path";
        }
        return !utf8.empty();
    case SettingKind::Addresses: return tavrel::network::AddressAllowList::Parse(utf8, reason).has_value();
    case SettingKind::ExtraInput: return ParseExtraInputText(utf8, reason).has_value();
    case SettingKind::Command: return DecodeCommandText(utf8, reason).has_value();
    case SettingKind::OutputOptions: return ParseOutputOptionsText(utf8, reason).has_value();
    case SettingKind::Interface: return HasNone(utf8, " \t/", "an interface's name has no blanks or slashes", reason);
    case SettingKind::ClientId: return HasNone(utf8, " \t\r", "a client id has no blanks", reason);
    case SettingKind::Targets: return CheckTargets(utf8, reason);
    case SettingKind::Topic: return CheckTopic(utf8, reason);
    case SettingKind::File:
        if (!utf8.empty() && utf8.front() != '/') {
            reason = "\"" + utf8 + "\" is not a full path (/home/...)";
            return false;
        }
        return true;
    default: return utf8.empty() || tavrel::network::ParseUdpTarget(utf8, reason).has_value();
    }
}

}  // namespace

std::optional<DWORD> ComNumber(std::string_view typed)
{
    std::string_view text = typed;
    if (StartsWithCom(text)) {
        text.remove_prefix(3);
        if (!text.empty() && text.back() == ':') {
            text.remove_suffix(1);
        }
    }
    const std::optional<DWORD> number = WholeNumber(text);
    return number && *number <= kHighestComNumber ? number : std::nullopt;
}

bool IsOutputIn(DWORD outputs, DWORD number)
{
    const PortList chosen = DecodeSplit(outputs);
    return std::find(chosen.begin(), chosen.end(), number) != chosen.end();
}

std::optional<SettingValue> ParseSetting(const SettingEntry& entry, std::string_view typed, std::string& reason)
{
    const bool mayBeNone = entry.kind == SettingKind::ExtraInput || entry.kind == SettingKind::Command ||
                           entry.kind == SettingKind::OutputOptions;
    if (mayBeNone && (typed.empty() || typed == "none")) {
        return SettingValue{};
    }
    if (IsOffWhenEmpty(entry.kind) && typed == "off") {
        return SettingValue{std::u16string{}};
    }
    std::optional<SettingValue> value =
        IsText(entry.kind) ? std::optional<SettingValue>(platform::ToUtf16(std::string(typed)))
                           : TypedNumber(entry, typed);
    if (value && !CheckSetting(entry, *value, reason)) {
        value.reset();
    }
    return value;
}

bool CheckSetting(const SettingEntry& entry, const SettingValue& value, std::string& reason)
{
    if (std::holds_alternative<std::monostate>(value)) {
        return true;
    }
    if (IsText(entry.kind) != std::holds_alternative<std::u16string>(value)) {
        reason = IsText(entry.kind) ? "a number, not a text" : "a text, not a number";
        return false;
    }
    return IsText(entry.kind) ? CheckText(entry, std::get<std::u16string>(value), reason)
                              : CheckNumber(entry, std::get<DWORD>(value), reason);
}

std::string SettingText(const SettingEntry& entry, const SettingValue& value)
{
    if (IsText(entry.kind)) {
        const std::u16string text = SettingTextValue(value, entry);
        if (!text.empty()) {
            return platform::ToUtf8(text);
        }
        switch (entry.kind) {
        case SettingKind::Addresses: return "anyone";
        case SettingKind::Target:
        case SettingKind::Targets:
        case SettingKind::File: return "off";
        case SettingKind::ClientId: return "automatic";
        case SettingKind::ExtraInput:
        case SettingKind::Command: return "none";
        case SettingKind::OutputOptions: return "transparent";
        case SettingKind::Interface: return "any";
        default: return "";
        }
    }
    const DWORD number = SettingNumber(value, entry);
    switch (entry.kind) {
    case SettingKind::Switch: return number != 0 ? "on" : "off";
    case SettingKind::TcpPort: return number != 0 ? std::to_string(number) : "off";
    case SettingKind::Count:
    case SettingKind::Qos: return std::to_string(number);
    case SettingKind::Announce: return number == kAnnounceAuto ? "auto" : number != 0 ? "on" : "off";
    case SettingKind::MqttVersion: return number == 4 ? "3.1.1" : std::to_string(number);
    case SettingKind::Baud: return number < kBaudRates.size() ? std::to_string(kBaudRates[number]) : "index " + std::to_string(number);
    case SettingKind::Outputs: return OutputsText(number);
    case SettingKind::GpsdOutput:
        if (number == static_cast<DWORD>(kGpsdFirstOutput)) {
            return "first";
        }
        [[fallthrough]];
    default: return "COM" + std::to_string(number);
    }
}

SettingValue ReadSetting(const platform::RegistryKey& key, const SettingEntry& entry)
{
    const WCHAR* name = RegistryName(entry.id);
    if (IsText(entry.kind)) {
        if (std::optional<std::u16string> text = key.Text(name)) {
            return std::move(*text);
        }
        return {};
    }
    if (const std::optional<DWORD> number = key.Number(name)) {
        return *number;
    }
    return {};
}

DWORD SettingNumber(const SettingValue& value, const SettingEntry& entry)
{
    const DWORD* number = std::get_if<DWORD>(&value);
    return number != nullptr ? *number : entry.defaultNumber;
}

std::u16string SettingTextValue(const SettingValue& value, const SettingEntry& entry)
{
    const std::u16string* text = std::get_if<std::u16string>(&value);
    return text != nullptr ? *text : std::u16string(entry.defaultText);
}

bool WriteSetting(const platform::RegistryKey& key, const SettingEntry& entry, const SettingValue& value)
{
    const WCHAR* name = RegistryName(entry.id);
    if (const DWORD* number = std::get_if<DWORD>(&value)) {
        return key.SetNumber(name, *number);
    }
    if (const std::u16string* text = std::get_if<std::u16string>(&value)) {
        return key.SetText(name, *text);
    }
    return key.Remove(name);
}

const SettingEntry* SettingOfWord(std::string_view word)
{
    const auto found = std::find_if(kSettingTable.begin(), kSettingTable.end(),
                                    [&](const SettingEntry& entry) { return !word.empty() && entry.word == word; });
    return found == kSettingTable.end() ? nullptr : &*found;
}

const SettingEntry* SettingOfRegistryName(std::u16string_view registryName)
{
    const auto found = std::find_if(kSettingTable.begin(), kSettingTable.end(),
                                    [&](const SettingEntry& entry) { return entry.registryName == registryName; });
    return found == kSettingTable.end() ? nullptr : &*found;
}
