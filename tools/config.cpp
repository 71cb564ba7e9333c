// tavrel-config: shows and changes the settings that go beyond the window's
// own choices, for a person at a shell or a headless machine. They live
// beside the window's settings under HKEY_CURRENT_USER\Software\Brenmor\Tavrel,
// and Tavrel reads them when it starts (the network ones at every start of the
// relay); one that runs meanwhile writes over them at its end only what the
// person changed in its window.
//
// The window's own choices (input, baud, outputs, autostart) are here too, so
// that a machine without a desktop can be set up from a shell.
//
//   tavrel-config                 every setting and its value
//   tavrel-config NAME            one setting's value
//   tavrel-config NAME VALUE      changes one
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_options.h"
#include "network/address_allow_list.h"
#include "network/udp_target.h"
#include "platform/boot.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "settings/registry_values.h"
#include "settings/settings_store.h"
#include "tools/relay_choices.h"

namespace {

// Switch: on or off, a DWORD 1 or 0. Port: a TCP port or off, a DWORD. Path:
// a local socket's path. Addresses: an allow list. Target: "host:port".
// Input: a COM number or a host serial device. Baud: a rate, stored as the
// baud box's index. Outputs: COM numbers, stored as the "Split" mask.
// Output: one of COM0 to COM9, or "first" (the first output), stored as no value.
enum class Kind { Switch, Port, Path, Addresses, Target, Input, Baud, Outputs, Output };

struct Setting {
    const char* name;           // on the command line
    const char16_t* value;      // in the registry
    Kind kind;
    const char* fallback;       // what Tavrel uses while the value is missing
    const char* meaning;
};

const Setting kSettings[] = {
    {"input", u"Port", Kind::Input, "COM1",
     "the port to read: a COM port (COM1) or a serial device (/dev/ttyUSB0), which becomes a built-in port"},
    {"baud", u"Baud", Kind::Baud, "110", "the input's baud rate (4800, 9600, ... 256000)"},
    {"outputs", u"Split", Kind::Outputs, "none",
     "the virtual ports to relay to, COM0 to COM9 (\"COM2,COM3\"), or none"},
    {"autostart", u"Autostart", Kind::Switch, "off",
     "relay as soon as Tavrel starts, and start it at login (on|off); also a box in the window"},
    {"reconnect", u"Reconnect", Kind::Switch, "off",
     "keep the outputs and wait for an input that fails or is missing (on|off); also a box in the window"},
    {"gpsd", u"GpsdHandoff", Kind::Switch, "off",
     "hand one virtual port to gpsd as it appears, gpsd-port (on|off)"},
    {"gpsd-port", u"GpsdPort", Kind::Output, "first",
     "the output that gpsd gets (COM2 ... COM9), or first: the first output"},
    {"gpsd-socket", u"GpsdSocket", Kind::Path, "/run/gpsd.sock", "gpsd's control socket"},
    {"tcp-port", u"TcpPort", Kind::Port, "off",
     "serve the stream over TCP on this port (1-65535; 10110 is NMEA's) or off"},
    {"tcp-any-address", u"TcpAnyAddress", Kind::Switch, "off",
     "let other computers connect to the TCP server, not only this one (on|off)"},
    {"tcp-allow", u"TcpAllow", Kind::Addresses, "anyone",
     "the addresses or prefixes that may connect (\"192.168.1.0/24 fe80::/10\"); \"\" for anyone"},
    {"udp-target", u"UdpTarget", Kind::Target, "off",
     "send each chunk as a UDP datagram to host:port (broadcast addresses allowed), \"\" for off"},
};

// Room for a local socket's path, as Tavrel keeps it.
constexpr std::size_t kLongestPath = 107;
// Room for an allow list or a target: far more than a person types.
constexpr std::size_t kLongestText = 4096;
constexpr DWORD kHighestPort = 65535;

const Setting* Find(const std::string& name)
{
    const auto found = std::find_if(std::begin(kSettings), std::end(kSettings),
                                    [&](const Setting& setting) { return name == setting.name; });
    return found == std::end(kSettings) ? nullptr : found;
}

std::string ShownChoice(const std::optional<DWORD>& number, const Setting& setting)
{
    if (!number) {
        return setting.fallback;
    }
    switch (setting.kind) {
    case Kind::Input:
    case Kind::Output:
        return "COM" + std::to_string(*number);
    case Kind::Baud:
        return tavrel::tools::RateOfBaudIndex(*number);
    default:
        return tavrel::tools::OutputsText(*number);
    }
}

std::string Shown(const platform::RegistryKey& key, const Setting& setting)
{
    if (setting.kind == Kind::Input || setting.kind == Kind::Baud || setting.kind == Kind::Outputs ||
        setting.kind == Kind::Output) {
        return ShownChoice(key.Number(setting.value), setting);
    }
    if (setting.kind == Kind::Switch || setting.kind == Kind::Port) {
        const std::optional<DWORD> number = key.Number(setting.value);
        if (!number || *number == 0) {
            return number ? "off" : setting.fallback;
        }
        return setting.kind == Kind::Switch ? "on" : std::to_string(*number);
    }
    const std::optional<std::u16string> text = key.Text(setting.value);
    return text && !text->empty() ? platform::ToUtf8(*text) : setting.fallback;
}

int Show(const std::vector<const Setting*>& settings)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    for (const Setting* setting : settings) {
        std::printf("%-16s %s\n", setting->name, Shown(key, *setting).c_str());
    }
    return 0;
}

// What a typed value stores: a number, or a text; or the value goes, so
// that Tavrel uses its fallback.
struct Stored {
    std::optional<DWORD> number;
    std::u16string text;
    bool removed = false;
};

std::optional<DWORD> PortNumber(const std::string& typed)
{
    if (typed == "off") {
        return 0;
    }
    if (typed.empty() || typed.size() > 5 || typed.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const DWORD port = static_cast<DWORD>(std::stoul(typed));
    return port >= 1 && port <= kHighestPort ? std::optional(port) : std::nullopt;
}

bool FitsOneLine(const std::string& typed, std::size_t longest)
{
    return typed.size() <= longest && typed.find('\n') == std::string::npos;
}

std::optional<Stored> Numbered(const std::optional<DWORD>& number)
{
    return number ? std::optional(Stored{number, {}}) : std::nullopt;
}

// The stored form of a value typed for a setting; nothing, with `reason`
// when there is more to say than the setting's meaning, when it is not one.
std::optional<Stored> Checked(const Setting& setting, const std::string& typed, const platform::RegistryKey& stored,
                              std::string& reason)
{
    switch (setting.kind) {
    case Kind::Switch:
        if (typed == "on" || typed == "off") {
            return Stored{typed == "on" ? 1U : 0U, {}};
        }
        return std::nullopt;
    case Kind::Port:
        if (const std::optional<DWORD> port = PortNumber(typed)) {
            return Stored{*port, {}};
        }
        return std::nullopt;
    case Kind::Path:
        if (typed.empty() || !FitsOneLine(typed, kLongestPath)) {
            return std::nullopt;
        }
        break;
    case Kind::Addresses:
        if (!FitsOneLine(typed, kLongestText) || !network::AddressAllowList::Parse(typed, reason)) {
            return std::nullopt;
        }
        break;
    case Kind::Target:
        if (!FitsOneLine(typed, kLongestText) || (!typed.empty() && !network::ParseUdpTarget(typed, reason))) {
            return std::nullopt;
        }
        break;
    case Kind::Input:   // a serial device is mapped as a built-in port here
        return Numbered(tavrel::tools::ChooseInput(typed, stored.Number(u"Split").value_or(0), reason));
    case Kind::Baud:
        return Numbered(tavrel::tools::BaudIndexOfRate(typed));
    case Kind::Outputs:
        if (const std::optional<DWORD> outputs = tavrel::tools::OutputsMask(typed)) {
            return Numbered(tavrel::tools::OutputsBeside(*outputs, stored.Number(u"Port").value_or(1), reason));
        }
        return std::nullopt;
    case Kind::Output:
        if (typed == setting.fallback) {
            return Stored{std::nullopt, {}, true};
        }
        if (const std::optional<DWORD> number = tavrel::tools::ComNumber(typed); number && *number <= 9) {
            return Stored{number, {}};
        }
        return std::nullopt;
    }
    return Stored{std::nullopt, platform::ToUtf16(typed)};
}

int Change(const Setting& setting, const std::string& typed)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    std::string reason;
    const std::optional<Stored> value = Checked(setting, typed, key, reason);
    if (!value) {
        std::fprintf(stderr, "tavrel-config: '%s' is not a value for %s: %s\n", typed.c_str(), setting.name,
                     reason.empty() ? setting.meaning : reason.c_str());
        return 2;
    }
    const bool written = value->removed  ? key.Remove(setting.value)
                         : value->number ? key.SetNumber(setting.value, *value->number)
                                         : key.SetText(setting.value, value->text);
    if (!written) {
        std::fprintf(stderr, "tavrel-config: cannot change %s in the device's registry\n", setting.name);
        return 1;
    }
    if (setting.kind == Kind::Switch && std::u16string_view(setting.value) == u"Autostart") {
        UpdateStartupShortcut(*value->number != 0);   // what the window's Autostart box does at exit
    }
    std::printf("%-16s %s (from Tavrel's next start)\n", setting.name, Shown(key, setting).c_str());
    return 0;
}

// What --help and a wrong command line show: the command lines and every setting.
std::string Description()
{
    std::string text = "Shows and changes Tavrel's settings, for a shell or a machine without a desktop. Settings:\n";
    for (const Setting& setting : kSettings) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-16s %s; %s when not set\n", setting.name, setting.meaning,
                      setting.fallback);
        text += line;
    }
    return text;
}

const std::string kDescription = Description();
const tavrel::commands::Command kConfig{"tavrel-config", "tavrel-config [NAME [VALUE]]\n", kDescription};

int Usage()
{
    return tavrel::commands::WrongUsage(kConfig);
}

int Run(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) {
        std::vector<const Setting*> all;
        for (const Setting& setting : kSettings) {
            all.push_back(&setting);
        }
        return Show(all);
    }
    const Setting* setting = arguments.size() <= 2 ? Find(arguments[0]) : nullptr;
    if (setting == nullptr) {
        return Usage();
    }
    return arguments.size() == 1 ? Show({setting}) : Change(*setting, arguments[1]);
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::commands::AnswerHelpOrVersion(kConfig, argc, argv)) {
        return *answered;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    const platform::BootResult booted = platform::BootDevice(settings);
    for (const std::string& problem : booted.problems) {
        std::fprintf(stderr, "tavrel-config: %s\n", problem.c_str());
    }
    const int result = booted.ok ? Run(arguments) : 1;
    platform::ShutdownDevice();
    return result;
}
