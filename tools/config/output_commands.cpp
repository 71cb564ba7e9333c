#include "tools/config/output_commands.h"

#include <cstdio>

#include "platform/strings.h"
#include "settings/output_description.h"
#include "settings/output_options_store.h"

namespace tavrel::tools {
namespace {

void SayProblems(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "tavrel-config: %s\n", problem.c_str());
    }
}

int Show(const std::string& name, const OutputOptions& options)
{
    const std::string text = OutputOptionsText(options);
    std::printf("%s  %s\n", name.c_str(), text.empty() ? "transparent, talk off" : text.c_str());
    return 0;
}

}  // namespace

int RunPortCommand(const std::vector<std::string>& words, bool (*tell)(const std::u16string& registryName))
{
    const std::optional<SettingId> id = words.empty() ? std::nullopt : OutputSettingNamed(words[0]);
    if (!id) {
        return -1;
    }
    const bool showing = words.size() == 1;
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey,
                                    showing ? platform::RegistryKey::Open::Existing : platform::RegistryKey::Open::OrCreate);
    std::vector<std::string> problems;
    OutputOptions options = ReadOutputOptions(key, *id, problems);
    SayProblems(problems);
    if (showing) {
        return Show(words[0], options);
    }
    std::string reason;
    if (!ApplyOutputCommand(options, {words.begin() + 1, words.end()}, reason)) {
        std::fprintf(stderr, "tavrel-config: cannot change %s: %s\n", words[0].c_str(), reason.c_str());
        return 2;
    }
    if (!WriteOutputOptions(key, *id, options)) {
        std::fprintf(stderr, "tavrel-config: cannot change %s in the device's registry\n", words[0].c_str());
        return 1;
    }
    const bool running = tell(std::u16string(Setting(*id).registryName));
    std::printf("%s\n", running ? "The running Tavrel uses it from the relay's next start."
                                : "It counts from Tavrel's next start.");
    return Show(words[0], options);
}

}  // namespace tavrel::tools
