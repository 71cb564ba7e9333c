#include "settings/input_description.h"

#include <algorithm>
#include <charconv>

#include "network/udp_target.h"
#include "settings/command_text.h"
#include "settings/setting_values.h"
#include "settings/setting_words.h"
#include "state/baud_rates.h"

namespace {

std::optional<unsigned long> Number(std::string_view text)
{
    unsigned long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty() ? std::optional(number)
                                                                                   : std::nullopt;
}

std::optional<std::uint16_t> PortNumber(std::string_view text)
{
    const std::optional<unsigned long> port = Number(text);
    return port && *port >= 1 && *port <= 65535 ? std::optional(static_cast<std::uint16_t>(*port)) : std::nullopt;
}

bool IsBaudRate(unsigned long rate)
{
    return std::find(kBaudRates.begin(), kBaudRates.end(), rate) != kBaudRates.end();
}

// One "key=value" choice; false, with `reason`, when it is not one of the kind's.
bool TakeChoice(ExtraInput& input, std::string_view word, std::string& reason)
{
    const std::size_t equals = word.find('=');
    const std::string_view key = word.substr(0, equals);
    const std::string_view value = equals == std::string_view::npos ? std::string_view{} : word.substr(equals + 1);
    if (equals == std::string_view::npos) {
        reason = Quoted(word) + " is not a choice (name=, standby-for=, standby-after=, group=, init=)";
        return false;
    }
    if (key == "name") {
        input.name = value;
        return true;
    }
    if (key == "init" && input.kind != ExtraInputKind::Udp) {
        std::optional<std::string> command = DecodeCommandText(value, reason);
        input.init = command.value_or(std::string{});
        return command.has_value();
    }
    if (key == "group" && input.kind == ExtraInputKind::Udp && !value.empty()) {
        input.group = value;
        return true;
    }
    const std::optional<unsigned long> number = Number(value);
    if (key == "standby-for" && number && *number <= kMostExtraInputs) {
        input.standbyFor = *number;
        return true;
    }
    if (key == "standby-after" && number && *number >= 1 && *number <= 3600) {
        input.standbySeconds = static_cast<DWORD>(*number);
        return true;
    }
    reason = Quoted(word) + " is not a choice of a " +
             (input.kind == ExtraInputKind::Serial ? "serial" : input.kind == ExtraInputKind::Tcp ? "tcp" : "udp") +
             " input (standby-for=0 to 8, standby-after=1 to 3600 seconds" +
             (input.kind == ExtraInputKind::Udp ? ", group=ADDRESS)" : ", init=COMMAND)");
    return false;
}

// The place of the input, the first word after its kind; false with `reason`.
bool TakePlace(ExtraInput& input, const std::string& place, std::string& reason)
{
    switch (input.kind) {
    case ExtraInputKind::Serial:
        input.device = place;
        if (const std::optional<DWORD> com = ComNumber(place)) {
            input.comPort = static_cast<std::int32_t>(*com);
            input.device = "COM" + std::to_string(*com);
        }
        return !place.empty() || (reason = "a serial input needs a device: COMn or a path", false);
    case ExtraInputKind::Tcp: {
        const std::optional<tavrel::network::UdpTarget> target = tavrel::network::ParseUdpTarget(place, reason);
        if (target) {
            input.device = target->host;
            input.port = target->port;
        }
        return target.has_value();
    }
    case ExtraInputKind::Udp:
        if (const std::optional<std::uint16_t> port = PortNumber(place)) {
            input.port = *port;
            return true;
        }
        reason = "'" + place + "' is not a UDP port (1 to 65535)";
        return false;
    }
    return false;
}

std::optional<ExtraInputKind> KindOf(std::string_view word)
{
    if (word == "serial") {
        return ExtraInputKind::Serial;
    }
    if (word == "tcp") {
        return ExtraInputKind::Tcp;
    }
    if (word == "udp") {
        return ExtraInputKind::Udp;
    }
    return std::nullopt;
}

}  // namespace

std::optional<ExtraInput> ParseExtraInput(const std::vector<std::string>& words, std::string& reason)
{
    const std::optional<ExtraInputKind> kind = words.empty() ? std::nullopt : KindOf(words[0]);
    if (!kind) {
        reason = "an input is serial, tcp or udp";
        return std::nullopt;
    }
    ExtraInput input;
    input.kind = *kind;
    if (words.size() < 2 || !TakePlace(input, words[1], reason)) {
        if (reason.empty()) {
            reason = std::string("a ") + words[0] + " input needs " +
                     (*kind == ExtraInputKind::Serial ? "a device" : *kind == ExtraInputKind::Tcp ? "HOST:PORT" : "a port");
        }
        return std::nullopt;
    }
    std::size_t next = 2;
    if (*kind == ExtraInputKind::Serial && next < words.size() && words[next].find('=') == std::string::npos) {
        const std::optional<unsigned long> rate = Number(words[next]);
        if (!rate || !IsBaudRate(*rate)) {
            reason = "'" + words[next] + "' is not a baud rate (4800, 9600, ... 256000)";
            return std::nullopt;
        }
        input.baudRate = static_cast<DWORD>(*rate);
        ++next;
    }
    for (; next < words.size(); ++next) {
        if (!TakeChoice(input, words[next], reason)) {
            return std::nullopt;
        }
    }
    return input;
}

std::optional<ExtraInput> ParseExtraInputText(std::string_view text, std::string& reason)
{
    return ParseExtraInput(SplitWords(text), reason);
}

std::string ExtraInputPlace(const ExtraInput& input)
{
    switch (input.kind) {
    case ExtraInputKind::Serial: return "serial " + QuotedWord(input.device);
    case ExtraInputKind::Tcp:
        return "tcp " + tavrel::network::UdpTargetText({input.device, input.port, false});
    case ExtraInputKind::Udp: return "udp " + std::to_string(input.port);
    }
    return {};
}

std::string ExtraInputText(const ExtraInput& input)
{
    std::string text = ExtraInputPlace(input);
    if (input.kind == ExtraInputKind::Serial) {
        text.append(" ").append(std::to_string(input.baudRate));
    }
    if (!input.group.empty()) {
        text += " group=" + QuotedWord(input.group);
    }
    if (!input.name.empty()) {
        text.append(" ").append(QuotedWord("name=" + input.name));
    }
    if (input.standbyFor) {
        text += " standby-for=" + std::to_string(*input.standbyFor);
        if (input.standbySeconds != kDefaultStandbySeconds) {
            text += " standby-after=" + std::to_string(input.standbySeconds);
        }
    }
    if (!input.init.empty()) {
        text.append(" ").append(QuotedWord("init=" + EncodeCommandText(input.init)));
    }
    return text;
}

bool StandbysValid(const ExtraInputs& inputs, std::string& reason)
{
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::optional<std::size_t> other = inputs[i].standbyFor;
        if (other && (*other > inputs.size() || *other == i + 1)) {
            reason = "input " + std::to_string(i + 1) + " stands by for input " + std::to_string(*other) +
                     ", which " + (*other == i + 1 ? "is itself" : "does not exist");
            return false;
        }
    }
    return true;
}
