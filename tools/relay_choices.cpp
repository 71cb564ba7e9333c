#include "tools/relay_choices.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <vector>

#include "settings/split_mask.h"
#include "state/baud_rates.h"
#include "setup/builtin_port_keys.h"
#include "setup/device_setup.h"

namespace tavrel::tools {
namespace {

constexpr DWORD kHighestComNumber = 99;
constexpr DWORD kHighestOutput = 9;
const char16_t kSerialInputKey[] = u"Serial input";

std::optional<DWORD> WholeNumber(std::string_view text)
{
    DWORD number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty() ? std::optional(number)
                                                                                   : std::nullopt;
}

bool StartsWithCom(std::string_view text)
{
    return text.size() >= 3 && std::equal(text.begin(), text.begin() + 3, "COM",
                                          [](char a, char b) { return (a & ~0x20) == b; });
}

std::vector<std::string> Words(const std::string& typed)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : typed + ' ') {   // the space ends the last word
        if (c == ' ' || c == ',' || c == '\t') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

std::string Canonical(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

bool IsOutput(DWORD outputs, DWORD number)
{
    const PortList chosen = DecodeSplit(outputs);
    return std::find(chosen.begin(), chosen.end(), number) != chosen.end();
}

// The highest number from 9 down that no built-in port other than `keyName`
// holds and that is not one of `outputs`.
std::optional<DWORD> FreeNumber(const std::vector<BuiltInPortKey>& ports, const std::u16string& keyName, DWORD outputs)
{
    for (DWORD candidate = kHighestOutput + 1; candidate-- > 0;) {
        const bool held = std::any_of(ports.begin(), ports.end(), [&](const BuiltInPortKey& port) {
            return port.keyName != keyName && port.index == candidate;
        });
        if (!held && !IsOutput(outputs, candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::string ComName(DWORD number)
{
    return "COM" + std::to_string(number);
}

}  // namespace

std::optional<DWORD> ComNumber(const std::string& typed)
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

std::optional<DWORD> BaudIndexOfRate(const std::string& typed)
{
    const std::optional<DWORD> rate = WholeNumber(typed);
    const auto found = std::find(kBaudRates.begin(), kBaudRates.end(), rate.value_or(0));
    return found == kBaudRates.end() ? std::nullopt : std::optional(static_cast<DWORD>(found - kBaudRates.begin()));
}

std::string RateOfBaudIndex(DWORD index)
{
    return index < kBaudRates.size() ? std::to_string(kBaudRates[index]) : "index " + std::to_string(index);
}

std::optional<DWORD> OutputsMask(const std::string& typed)
{
    const std::vector<std::string> words = Words(typed);
    if (words.size() == 1 && words[0] == "none") {
        return 0;
    }
    PortList outputs;
    for (const std::string& word : words) {
        const std::optional<DWORD> number = ComNumber(word);
        if (!number || *number > kHighestOutput) {
            return std::nullopt;
        }
        outputs.push_back(static_cast<PortList::value_type>(*number));
    }
    return outputs.empty() ? std::nullopt : std::optional(EncodeSplit(outputs));
}

std::string OutputsText(DWORD mask)
{
    std::string text;
    for (const int output : DecodeSplit(mask)) {
        text += (text.empty() ? "COM" : " COM") + std::to_string(output);
    }
    return text.empty() ? "none" : text;
}

std::optional<DWORD> OutputsBeside(DWORD outputs, DWORD input, std::string& reason)
{
    if (IsOutput(outputs, input)) {
        reason = ComName(input) + " is the input";
        return std::nullopt;
    }
    return outputs;
}

std::optional<DWORD> ChooseInput(const std::string& typed, DWORD outputs, std::string& reason)
{
    if (const std::optional<DWORD> number = ComNumber(typed)) {
        if (IsOutput(outputs, *number)) {
            reason = ComName(*number) + " is one of the outputs";
            return std::nullopt;
        }
        return number;
    }
    std::error_code error;
    if (typed.empty() || typed.front() != '/' || !std::filesystem::exists(typed, error)) {
        reason = "neither a COM port (COM1) nor a serial device that exists (/dev/ttyUSB0)";
        return std::nullopt;
    }
    const std::string device = Canonical(typed);
    const std::vector<BuiltInPortKey> ports = BuiltInPortKeys();
    for (const BuiltInPortKey& port : ports) {
        if (port.index && !port.hostDevice.empty() && Canonical(port.hostDevice) == device) {
            if (IsOutput(outputs, *port.index)) {
                reason = "it is the built-in port " + ComName(*port.index) + ", one of the outputs";
                return std::nullopt;
            }
            return port.index;
        }
    }
    const std::optional<DWORD> free = FreeNumber(ports, kSerialInputKey, outputs);
    if (!free) {
        reason = "every COM number from 0 to 9 is a built-in port or an output";
        return std::nullopt;
    }
    if (!MapBuiltInPort(kSerialInputKey, static_cast<int>(*free), typed)) {
        reason = "the device's registry cannot be written";
        return std::nullopt;
    }
    return free;
}

}  // namespace tavrel::tools
