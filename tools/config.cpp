// tavrel-config: shows and changes the settings that go beyond the window's
// own choices, for a person at a shell or a headless machine. They live
// beside the window's settings under HKEY_CURRENT_USER\Software\Brenmor\Tavrel,
// and Tavrel reads them when it starts; one that runs meanwhile saves what its
// window shows (Reconnect) when it ends.
//
//   tavrel-config                 every setting and its value
//   tavrel-config NAME            one setting's value
//   tavrel-config NAME VALUE      changes one
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/registry_key.h"
#include "platform/strings.h"

namespace {

const char16_t kSettingsKey[] = u"Software\\Brenmor\\Tavrel";

enum class Kind { Switch, Text };

struct Setting {
    const char* name;           // on the command line
    const char16_t* value;      // in the registry
    Kind kind;
    const char* fallback;       // what Tavrel uses while the value is missing
    const char* meaning;
};

const Setting kSettings[] = {
    {"reconnect", u"Reconnect", Kind::Switch, "off",
     "keep the outputs and wait for an input that fails or is missing (on|off); also a box in the window"},
    {"gpsd", u"GpsdHandoff", Kind::Switch, "off",
     "hand every virtual port to gpsd as it appears (on|off)"},
    {"gpsd-socket", u"GpsdSocket", Kind::Text, "/run/gpsd.sock", "gpsd's control socket"},
};

// Room for a local socket's path, as Tavrel keeps it.
constexpr std::size_t kLongestText = 107;

const Setting* Find(const std::string& name)
{
    const auto found = std::find_if(std::begin(kSettings), std::end(kSettings),
                                    [&](const Setting& setting) { return name == setting.name; });
    return found == std::end(kSettings) ? nullptr : found;
}

std::string Shown(const platform::RegistryKey& key, const Setting& setting)
{
    if (setting.kind == Kind::Switch) {
        const std::optional<DWORD> number = key.Number(setting.value);
        return number ? (*number != 0 ? "on" : "off") : setting.fallback;
    }
    const std::optional<std::u16string> text = key.Text(setting.value);
    return text ? platform::ToUtf8(*text) : setting.fallback;
}

int Show(const std::vector<const Setting*>& settings)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    for (const Setting* setting : settings) {
        std::printf("%-12s %s\n", setting->name, Shown(key, *setting).c_str());
    }
    return 0;
}

// The stored form of a value typed for a setting; nothing when it is not one.
std::optional<std::u16string> Checked(const Setting& setting, const std::string& typed)
{
    if (setting.kind == Kind::Switch) {
        return typed == "on" || typed == "off" ? std::optional(platform::ToUtf16(typed)) : std::nullopt;
    }
    const bool fits = !typed.empty() && typed.size() <= kLongestText && typed.find('\n') == std::string::npos;
    return fits ? std::optional(platform::ToUtf16(typed)) : std::nullopt;
}

int Change(const Setting& setting, const std::string& typed)
{
    const std::optional<std::u16string> value = Checked(setting, typed);
    if (!value) {
        std::fprintf(stderr, "tavrel-config: '%s' is not a value for %s: %s\n", typed.c_str(), setting.name,
                     setting.meaning);
        return 2;
    }
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    const bool written = setting.kind == Kind::Switch ? key.SetNumber(setting.value, *value == u"on" ? 1 : 0)
                                                      : key.SetText(setting.value, *value);
    if (!written) {
        std::fprintf(stderr, "tavrel-config: cannot change %s in the device's registry\n", setting.name);
        return 1;
    }
    std::printf("%-12s %s (from Tavrel's next start)\n", setting.name, typed.c_str());
    return 0;
}

int Usage()
{
    std::fputs("usage: tavrel-config [NAME [VALUE]]\nsettings:\n", stderr);
    for (const Setting& setting : kSettings) {
        std::fprintf(stderr, "  %-12s %s; %s when not set\n", setting.name, setting.meaning, setting.fallback);
    }
    return 2;
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
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && (arguments[0] == "--help" || arguments[0] == "-h")) {
        return Usage();
    }
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    const platform::BootResult booted = platform::BootDevice(settings);
    for (const std::string& problem : booted.problems) {
        std::fprintf(stderr, "tavrel-config: %s\n", problem.c_str());
    }
    const int result = booted.ok ? Run(arguments) : 1;
    platform::ShutdownDevice();
    return result;
}
