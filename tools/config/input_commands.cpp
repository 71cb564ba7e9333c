#include "tools/config/input_commands.h"

#include <cstdio>

#include "platform/registry_key.h"
#include "platform/strings.h"
#include "settings/command_text.h"
#include "settings/extra_inputs_store.h"
#include "settings/input_description.h"
#include "settings/output_options_store.h"
#include "settings/setting_values.h"

namespace tavrel::tools {
namespace {

void SayProblems(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "tavrel-config: %s\n", problem.c_str());
    }
}

int List(const platform::RegistryKey& key)
{
    std::vector<std::string> problems;
    const ExtraInputs inputs = ReadExtraInputs(key, problems);
    const SettingEntry& main = Setting(SettingId::Input);
    const SettingEntry& baud = Setting(SettingId::Baud);
    const SettingEntry& init = Setting(SettingId::InputInit);
    const std::u16string command = SettingTextValue(ReadSetting(key, init), init);
    std::printf("0  %s %s%s (the main input)\n", SettingText(main, ReadSetting(key, main)).c_str(),
                SettingText(baud, ReadSetting(key, baud)).c_str(),
                command.empty() ? "" : (" init=" + platform::ToUtf8(command)).c_str());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::printf("%zu  %s\n", i + 1, ExtraInputText(inputs[i]).c_str());
    }
    SayProblems(problems);
    return 0;
}

// A serial input named by a COM number must be neither the main input nor an output.
bool ClearOfRelayPorts(const ExtraInput& input, const platform::RegistryKey& key, std::string& reason)
{
    const std::optional<DWORD> number = input.kind == ExtraInputKind::Serial ? ComNumber(input.device) : std::nullopt;
    if (!number) {
        return true;
    }
    const auto stored = [&](SettingId id) { return SettingNumber(ReadSetting(key, Setting(id)), Setting(id)); };
    if (*number == stored(SettingId::Input)) {
        reason = input.device + " is the main input";
    } else if (IsOutputIn(stored(SettingId::Outputs), *number)) {
        reason = input.device + " is one of the outputs";
    }
    return reason.empty();
}

int Store(const platform::RegistryKey& key, const ExtraInputs& inputs, std::size_t changed,
          bool (*tell)(const std::u16string&))
{
    if (!WriteExtraInputs(key, inputs)) {
        std::fprintf(stderr, "tavrel-config: cannot change the inputs in the device's registry\n");
        return 1;
    }
    const bool running = tell(std::u16string(Setting(ExtraInputSetting(changed)).registryName));
    std::printf("%s\n", running ? "The running Tavrel uses the inputs from the relay's next start."
                                : "The inputs count from Tavrel's next start.");
    return List(key);
}

int Refuse(const std::string& what, const std::string& reason)
{
    std::fprintf(stderr, "tavrel-config: cannot %s: %s\n", what.c_str(), reason.c_str());
    return 2;
}

int Add(const platform::RegistryKey& key, const std::vector<std::string>& words, bool (*tell)(const std::u16string&))
{
    std::vector<std::string> problems;
    ExtraInputs inputs = ReadExtraInputs(key, problems);
    SayProblems(problems);
    std::string reason;
    std::optional<ExtraInput> input = ParseExtraInput(words, reason);
    if (!input) {
        return Refuse("add the input", reason);
    }
    if (inputs.size() == kMostExtraInputs) {
        return Refuse("add the input", "there are " + std::to_string(kMostExtraInputs) + " inputs besides the main one");
    }
    inputs.push_back(std::move(*input));
    if (!ClearOfRelayPorts(inputs.back(), key, reason) || !StandbysValid(inputs, reason)) {
        return Refuse("add the input", reason);
    }
    return Store(key, inputs, inputs.size(), tell);
}

int Remove(const platform::RegistryKey& key, const std::string& typed, bool (*tell)(const std::u16string&))
{
    std::vector<std::string> problems;
    ExtraInputs inputs = ReadExtraInputs(key, problems);
    SayProblems(problems);
    std::string reason;
    const std::optional<DWORD> number = ComNumber(typed);   // a plain number, as COM numbers are typed
    if (!number || typed.find_first_not_of("0123456789") != std::string::npos) {
        return Refuse("remove input " + typed, "inputs are numbered 1 to " + std::to_string(kMostExtraInputs));
    }
    const StoredOutputOptions outputs = ReadAllOutputOptions(key, problems);
    if (!TalkAllowsRemoving(outputs, *number, reason) || !RemoveExtraInput(inputs, *number, reason)) {
        return Refuse("remove input " + typed, reason);
    }
    return Store(key, inputs, *number, tell);
}

// `inputs init N TEXT`: input N's start-up command, "" for none; the main
// input's (0) is a setting of its own.
int Init(const platform::RegistryKey& key, const std::string& typedNumber, const std::string& typed,
         bool (*tell)(const std::u16string&))
{
    std::string reason;
    const std::optional<std::string> command = DecodeCommandText(typed, reason);
    const std::optional<DWORD> number = ComNumber(typedNumber);
    if (!number || typedNumber.find_first_not_of("0123456789") != std::string::npos) {
        return Refuse("set input " + typedNumber + "'s command", "inputs are numbered 0 to " + std::to_string(kMostExtraInputs));
    }
    if (!command) {
        return Refuse("set input " + typedNumber + "'s command", reason);
    }
    if (*number == 0) {
        const SettingEntry& entry = Setting(SettingId::InputInit);
        const SettingValue value = typed.empty() ? SettingValue{} : SettingValue{platform::ToUtf16(typed)};
        if (!WriteSetting(key, entry, value)) {
            std::fprintf(stderr, "tavrel-config: cannot change the inputs in the device's registry\n");
            return 1;
        }
        tell(std::u16string(entry.registryName));
        return List(key);
    }
    std::vector<std::string> problems;
    ExtraInputs inputs = ReadExtraInputs(key, problems);
    SayProblems(problems);
    if (*number > inputs.size()) {
        return Refuse("set input " + typedNumber + "'s command", "there is no input " + typedNumber);
    }
    if (inputs[*number - 1].kind == ExtraInputKind::Udp && !command->empty()) {
        return Refuse("set input " + typedNumber + "'s command", "a UDP input has nobody to send it to");
    }
    inputs[*number - 1].init = *command;
    return Store(key, inputs, *number, tell);
}

}  // namespace

int RunInputsCommand(const std::vector<std::string>& words, bool (*tell)(const std::u16string& registryName))
{
    const bool listing = words.empty() || (words.size() == 1 && words[0] == "list");
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey,
                                    listing ? platform::RegistryKey::Open::Existing : platform::RegistryKey::Open::OrCreate);
    if (listing) {
        return List(key);
    }
    if (words[0] == "add" && words.size() >= 2) {
        return Add(key, std::vector<std::string>(words.begin() + 1, words.end()), tell);
    }
    if (words[0] == "init" && words.size() == 3) {
        return Init(key, words[1], words[2], tell);
    }
    if (words[0] == "remove" && words.size() == 2) {
        return Remove(key, words[1], tell);
    }
    return -1;
}

}  // namespace tavrel::tools
