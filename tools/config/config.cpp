// tavrel-config: shows and changes Tavrel's settings, for a person at a shell
// or a headless machine. They live under HKEY_CURRENT_USER\Software\Brenmor\Tavrel.
// A change is stored and then told to the Tavrel that runs on the device, if
// one does: it puts the change to use (at once, or at the relay's next start)
// and keeps it, so nothing is lost when it ends.
//
//   tavrel-config [list [--json]]     every setting and its value
//   tavrel-config [get] NAME          one setting's value
//   tavrel-config [set] NAME VALUE    changes one
//   tavrel-config inputs add|remove|list|init ...   the inputs beside the main one
//   tavrel-config port COM2|tcp|udp [COMMAND...]     an output's talk and shape
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_line/command_options.h"
#include "command_line/json_text.h"
#include "mqtt/credentials_file.h"
#include "platform/answer_socket.h"
#include "platform/boot.h"
#include "platform/strings.h"
#include "settings/registry_values.h"
#include "settings/setting_values.h"
#include "settings/settings_store.h"
#include "status/status_service.h"
#include "tools/config/input_commands.h"
#include "tools/config/output_commands.h"
#include "tools/config/relay_choices.h"

namespace {

using tavrel::command_line::JsonObject;

std::vector<const SettingEntry*> ConfigSettings()
{
    std::vector<const SettingEntry*> settings;
    for (const SettingEntry& entry : kSettingTable) {
        if (!entry.word.empty()) {
            settings.push_back(&entry);
        }
    }
    return settings;
}

std::string Word(const SettingEntry& entry)
{
    return std::string(entry.word);
}

std::string Shown(const platform::RegistryKey& key, const SettingEntry& entry)
{
    return SettingText(entry, ReadSetting(key, entry));
}

const char* WhenUsed(SettingTakesEffect when)
{
    switch (when) {
    case SettingTakesEffect::AtOnce: return "now";
    case SettingTakesEffect::AtRelayStart: return "relay start";
    default: return "program start";
    }
}

// An extra input's, a start-up command's or an output's row that holds
// none is left out of the lists: most people have one input and transparent
// outputs.
bool Unused(const platform::RegistryKey& key, const SettingEntry& entry)
{
    const bool rowOfMany = entry.kind == SettingKind::ExtraInput || entry.kind == SettingKind::Command ||
                           entry.kind == SettingKind::OutputOptions;
    return rowOfMany && std::holds_alternative<std::monostate>(ReadSetting(key, entry));
}

int List(const std::vector<const SettingEntry*>& settings)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    for (const SettingEntry* entry : settings) {
        if (settings.size() > 1 && Unused(key, *entry)) {
            continue;
        }
        std::printf("%-16s %s\n", Word(*entry).c_str(), Shown(key, *entry).c_str());
    }
    return 0;
}

// One member for each setting: its value, whether it is stored or the default
// counts, the default, when a running Tavrel uses a change, and the help line.
int ListJson()
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    JsonObject all;
    for (const SettingEntry* entry : ConfigSettings()) {
        if (Unused(key, *entry)) {
            continue;
        }
        const SettingValue value = ReadSetting(key, *entry);
        all.Raw(entry->word, JsonObject()
                                 .Text("value", SettingText(*entry, value))
                                 .Bool("stored", !std::holds_alternative<std::monostate>(value))
                                 .Text("default", SettingText(*entry, SettingValue{}))
                                 .Text("takesEffect", WhenUsed(entry->takesEffect))
                                 .Text("help", entry->help)
                                 .Done());
    }
    std::printf("%s\n", all.Done().c_str());
    return 0;
}

// A broker's CA file must be readable, and its credentials file readable by
// its owner alone: said now rather than found by a run that cannot connect.
bool FileFitsItsSetting(const SettingEntry& entry, const SettingValue& value, std::string& reason)
{
    const std::u16string* path = std::get_if<std::u16string>(&value);
    if (path == nullptr || path->empty()) {
        return true;
    }
    if (entry.id == SettingId::MqttCredentials) {
        return tavrel::mqtt::ReadCredentialsFile(platform::ToUtf8(*path), reason).has_value();
    }
    return entry.id != SettingId::MqttTlsCa || tavrel::mqtt::CheckReadable("CA file", platform::ToUtf8(*path), reason);
}

// The stored form of `typed`, with what the input and the outputs must not
// share; nothing, with `reason`, when it is not a value of `entry`.
std::optional<SettingValue> Checked(const SettingEntry& entry, const std::string& typed,
                                    const platform::RegistryKey& stored, std::string& reason)
{
    const auto storedNumber = [&](SettingId id) { return SettingNumber(ReadSetting(stored, Setting(id)), Setting(id)); };
    if (entry.id == SettingId::Input) {   // a serial device is mapped as a built-in port here
        const std::optional<DWORD> input = tavrel::tools::ChooseInput(typed, storedNumber(SettingId::Outputs), reason);
        return input ? std::optional<SettingValue>(*input) : std::nullopt;
    }
    std::optional<SettingValue> value = ParseSetting(entry, typed, reason);
    if (value && entry.id == SettingId::Outputs &&
        !tavrel::tools::OutputsBeside(std::get<DWORD>(*value), storedNumber(SettingId::Input), reason)) {
        value.reset();
    }
    if (value && !FileFitsItsSetting(entry, *value, reason)) {
        value.reset();
    }
    return value;
}

// Tells the Tavrel that runs on the device that the value `registryName`
// changed; false when none runs (or it cannot be reached), and the change
// counts from its start.
bool TellRunningTavrel(const std::u16string& registryName)
{
    const platform::DeviceSettings device = platform::DeviceSettingsFromEnvironment();
    const std::string request = std::string(kSettingChangedRequest) + platform::ToUtf8(registryName);
    const std::optional<std::string> answer =
        platform::AskAnswerSocket(platform::AnswerSocketPath(device.deviceRoot, kStatusSocketName), request);
    return answer && *answer == kSettingChangedTaken;
}

const char* FromWhen(const SettingEntry& entry, bool running)
{
    if (!running || entry.takesEffect == SettingTakesEffect::AtProgramStart) {
        return "from Tavrel's next start";
    }
    return entry.takesEffect == SettingTakesEffect::AtOnce ? "the running Tavrel has it now" : "from the relay's next start";
}

int Change(const SettingEntry& entry, const std::string& typed)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    std::string reason;
    const std::optional<SettingValue> value = Checked(entry, typed, key, reason);
    if (!value) {
        std::fprintf(stderr, "tavrel-config: '%s' is not a value for %s: %s\n", typed.c_str(), Word(entry).c_str(),
                     reason.empty() ? std::string(entry.help).c_str() : reason.c_str());
        return 2;
    }
    if (!WriteSetting(key, entry, *value)) {
        std::fprintf(stderr, "tavrel-config: cannot change %s in the device's registry\n", Word(entry).c_str());
        return 1;
    }
    if (entry.id == SettingId::Autostart) {
        UpdateStartupShortcut(SettingNumber(*value, entry) != 0);   // what the window's box does at exit
    }
    const bool running = TellRunningTavrel(std::u16string(entry.registryName));
    std::printf("%-16s %s (%s)\n", Word(entry).c_str(), Shown(key, entry).c_str(), FromWhen(entry, running));
    return 0;
}

// What --help and a wrong command line show: the command lines and every setting.
std::string Description()
{
    std::string text = "Shows and changes Tavrel's settings, for a shell or a machine without a desktop.\n"
                       "A change reaches a Tavrel that runs, which keeps it. Settings:\n";
    for (const SettingEntry* entry : ConfigSettings()) {
        const bool likeTheFirst = (entry->kind == SettingKind::ExtraInput && entry->id != SettingId::Input1) ||
                                  (entry->id > SettingId::OutputCom0 && entry->id <= SettingId::OutputCom9);
        if (likeTheFirst) {
            continue;   // input1 stands for all eight, output-com0 for all ten
        }
        const std::string word = entry->id == SettingId::Input1       ? "input1...8"
                                 : entry->id == SettingId::OutputCom0 ? "output-com0...9"
                                                                      : Word(*entry);
        char line[256];
        std::snprintf(line, sizeof line, "  %-16s %s; %s when not set\n", word.c_str(),
                      std::string(entry->help).c_str(), SettingText(*entry, SettingValue{}).c_str());
        text += line;
    }
    return text;
}

const std::string kDescription = Description();
const tavrel::command_line::Command kConfig{
    "tavrel-config", "tavrel-config [list [--json]]\ntavrel-config [get] NAME\ntavrel-config [set] NAME VALUE\n"
    "tavrel-config inputs add serial PATH|COMn [BAUD] [name=NAME] [standby-for=N] [standby-after=SECONDS]\n"
    "tavrel-config inputs add tcp HOST:PORT [name=NAME] [standby-for=N] [standby-after=SECONDS]\n"
    "tavrel-config inputs add udp PORT [group=ADDRESS] [name=NAME] [standby-for=N] [standby-after=SECONDS]\n"
    "tavrel-config inputs remove N\ntavrel-config inputs init N \"COMMAND\"\ntavrel-config inputs [list]\n"
    "tavrel-config port COM2|tcp|udp talk lines|raw|off [to=N]\n"
    "tavrel-config port COM2|tcp|udp only|deny PATTERN,...|off\n"
    "tavrel-config port COM2|tcp|udp checksum on|off\n"
    "tavrel-config port COM2|tcp|udp talker XX:YY|off\n"
    "tavrel-config port COM2|tcp|udp every PATTERN MS|off\n"
    "tavrel-config port COM2|tcp|udp shape off\ntavrel-config port COM2|tcp|udp\n",
    kDescription};

int Run(std::vector<std::string> arguments)
{
    if (arguments.empty() || arguments == std::vector<std::string>{"list"}) {
        return List(ConfigSettings());
    }
    if (arguments == std::vector<std::string>{"list", "--json"}) {
        return ListJson();
    }
    if (arguments[0] == "inputs") {
        const int status = tavrel::tools::RunInputsCommand({arguments.begin() + 1, arguments.end()}, TellRunningTavrel);
        return status >= 0 ? status : tavrel::command_line::WrongUsage(kConfig);
    }
    if (arguments[0] == "port") {
        const int status = tavrel::tools::RunPortCommand({arguments.begin() + 1, arguments.end()}, TellRunningTavrel);
        return status >= 0 ? status : tavrel::command_line::WrongUsage(kConfig);
    }
    const std::string& verb = arguments[0];
    if ((verb == "get" && arguments.size() == 2) || (verb == "set" && arguments.size() == 3)) {
        arguments.erase(arguments.begin());
    }
    const SettingEntry* entry = arguments.size() <= 2 ? SettingOfWord(arguments[0]) : nullptr;
    if (entry == nullptr) {
        return tavrel::command_line::WrongUsage(kConfig);
    }
    return arguments.size() == 1 ? List({entry}) : Change(*entry, arguments[1]);
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kConfig, argc, argv)) {
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
