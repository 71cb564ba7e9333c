#include "tools/config/relay_choices.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "settings/setting_values.h"
#include "setup/builtin_port_keys.h"
#include "setup/device_setup.h"

namespace tavrel::tools {
namespace {

const char16_t kSerialInputKey[] = u"Serial input";

std::string Canonical(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

// The highest number from 9 down that no built-in port other than `keyName`
// holds and that is not one of `outputs`.
std::optional<DWORD> FreeNumber(const std::vector<setup::BuiltInPortKey>& ports, const std::u16string& keyName, DWORD outputs)
{
    for (DWORD candidate = kHighestOutput + 1; candidate-- > 0;) {
        const bool held = std::any_of(ports.begin(), ports.end(), [&](const setup::BuiltInPortKey& port) {
            return port.keyName != keyName && port.index == candidate;
        });
        if (!held && !IsOutputIn(outputs, candidate)) {
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

std::optional<DWORD> OutputsBeside(DWORD outputs, DWORD input, std::string& reason)
{
    if (IsOutputIn(outputs, input)) {
        reason = ComName(input) + " is the input";
        return std::nullopt;
    }
    return outputs;
}

std::optional<DWORD> ChooseInput(const std::string& typed, DWORD outputs, std::string& reason)
{
    if (const std::optional<DWORD> number = ComNumber(typed)) {
        if (IsOutputIn(outputs, *number)) {
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
    const std::vector<setup::BuiltInPortKey> ports = setup::BuiltInPortKeys();
    for (const setup::BuiltInPortKey& port : ports) {
        if (port.index && !port.hostDevice.empty() && Canonical(port.hostDevice) == device) {
            if (IsOutputIn(outputs, *port.index)) {
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
    if (!setup::MapBuiltInPort(kSerialInputKey, static_cast<int>(*free), typed)) {
        reason = "the device's registry cannot be written";
        return std::nullopt;
    }
    return free;
}

}  // namespace tavrel::tools
