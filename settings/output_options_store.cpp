#include "settings/output_options_store.h"

#include "platform/strings.h"
#include "settings/command_text.h"
#include "settings/output_description.h"
#include "settings/setting_values.h"

namespace {

// The row's text, or nothing when it holds none.
std::optional<std::string> StoredText(const platform::RegistryKey& key, SettingId id)
{
    const std::u16string text = SettingTextValue(ReadSetting(key, Setting(id)), Setting(id));
    return text.empty() ? std::nullopt : std::optional(platform::ToUtf8(text));
}

void AddProblem(std::vector<std::string>& problems, SettingId id, const std::string& reason)
{
    problems.push_back(platform::ToUtf8(std::u16string(Setting(id).registryName)) + " is left out: " + reason);
}

}  // namespace

OutputOptions ReadOutputOptions(const platform::RegistryKey& key, SettingId id, std::vector<std::string>& problems)
{
    const std::optional<std::string> text = StoredText(key, id);
    std::string reason;
    std::optional<OutputOptions> options = text ? ParseOutputOptionsText(*text, reason) : OutputOptions{};
    if (!options) {
        AddProblem(problems, id, reason);
    }
    return options.value_or(OutputOptions{});
}

bool WriteOutputOptions(const platform::RegistryKey& key, SettingId id, const OutputOptions& options)
{
    const std::string text = OutputOptionsText(options);
    return WriteSetting(key, Setting(id), text.empty() ? SettingValue{} : SettingValue{platform::ToUtf16(text)});
}

std::optional<SettingId> OutputSettingNamed(std::string_view name)
{
    if (name == "tcp") {
        return SettingId::OutputTcp;
    }
    if (name == "udp") {
        return SettingId::OutputUdp;
    }
    const std::optional<DWORD> number = ComNumber(name);
    if (!number || *number > kHighestOutput || !(name.starts_with("COM") || name.starts_with("com"))) {
        return std::nullopt;
    }
    return OutputSetting(*number);
}

StoredOutputOptions ReadAllOutputOptions(const platform::RegistryKey& key, std::vector<std::string>& problems)
{
    StoredOutputOptions stored;
    for (std::size_t number = 0; number < stored.ports.size(); ++number) {
        stored.ports[number] = ReadOutputOptions(key, OutputSetting(number), problems);
    }
    stored.tcp = ReadOutputOptions(key, SettingId::OutputTcp, problems);
    stored.udp = ReadOutputOptions(key, SettingId::OutputUdp, problems);
    return stored;
}

bool TalkAllowsRemoving(const StoredOutputOptions& outputs, std::size_t number, std::string& reason)
{
    const auto talksAtOrAfter = [number](const OutputOptions& options) {
        return options.talk != TalkMode::Off && options.talkTo >= number;
    };
    std::string talker;
    for (std::size_t port = 0; port < outputs.ports.size() && talker.empty(); ++port) {
        if (talksAtOrAfter(outputs.ports[port])) {
            talker = "COM" + std::to_string(port);
        }
    }
    if (talker.empty() && talksAtOrAfter(outputs.tcp)) {
        talker = "the TCP server";
    }
    if (!talker.empty()) {
        reason = talker + " talks to input " + std::to_string(number) +
                 " or a later one, whose number would change; set its talk first";
    }
    return talker.empty();
}

std::string ReadInputInit(const platform::RegistryKey& key, std::vector<std::string>& problems)
{
    const std::optional<std::string> text = StoredText(key, SettingId::InputInit);
    std::string reason;
    const std::optional<std::string> command = text ? DecodeCommandText(*text, reason) : std::string{};
    if (!command) {
        AddProblem(problems, SettingId::InputInit, reason);
    }
    return command.value_or(std::string{});
}
