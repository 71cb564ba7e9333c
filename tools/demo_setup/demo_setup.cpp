// tavrel-demo-setup: prepares the device for trying Tavrel with a given
// serial device, which becomes the built-in port COM9 ("Demo input").
//
//   tavrel-demo-setup HOST_TTY [BAUD_INDEX]
//     unattended: the user's settings choose COM9 as the input at the baud
//     index (default 5, 4800 baud), the outputs COM2 and COM3 and Autostart
//     on, so that Tavrel relays by itself as soon as it starts.
//   tavrel-demo-setup --attended HOST_TTY [BAUD_INDEX]
//     for a person at the window: COM9 and the baud index are preselected and
//     Autostart is off, so the window stays up; the person adds outputs and
//     starts.
//   tavrel-demo-setup --remove
//     after a demo whose input is gone (the simulated receiver): the mapping
//     is removed, Autostart is turned off and the StartUp shortcut deleted,
//     so that nothing at the next login tries to relay a port that is gone.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command_line/command_options.h"
#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "state/setting_table.h"
#include "setup/device_setup.h"

namespace {

const char16_t kDemoInput[] = u"Demo input";
constexpr DWORD kInputPort = 9;
constexpr DWORD kOutputs = (1u << (2 + 1)) | (1u << (3 + 1));   // COM2 and COM3, as "Split" holds them

bool WriteUserSettings(const std::vector<std::pair<SettingId, DWORD>>& values)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool written = true;
    for (const auto& [id, value] : values) {
        written = written && RegSetValueExW(key, RegistryName(id), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                            sizeof(value)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return written;
}

bool PrepareDemo(const std::string& hostTty, DWORD baudIndex, bool attended)
{
    if (!tavrel::setup::MapBuiltInPort(kDemoInput, kInputPort, hostTty)) {
        return false;
    }
    if (attended) {
        return WriteUserSettings({{SettingId::Input, kInputPort}, {SettingId::Baud, baudIndex}, {SettingId::Autostart, 0}});
    }
    return WriteUserSettings({{SettingId::Input, kInputPort},
                              {SettingId::Baud, baudIndex},
                              {SettingId::Autostart, 1},
                              {SettingId::Outputs, kOutputs}});
}

bool RemoveDemo()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::u16string(u"Drivers\\BuiltIn\\") + kDemoInput).c_str());
    DeleteFileW(u"\\Windows\\StartUp\\Tavrel.lnk");
    return WriteUserSettings({{SettingId::Autostart, 0}});
}

// The baud box's index: 0 (110 baud) to 14 (256000 baud).
std::optional<DWORD> TypedBaudIndex(const std::string& text)
{
    DWORD index = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index);
    const bool whole = error == std::errc{} && end == text.data() + text.size();
    return whole && index <= Setting(SettingId::Baud).highest ? std::optional(index) : std::nullopt;
}

const tavrel::command_line::Command kDemoSetup{
    "tavrel-demo-setup", "tavrel-demo-setup [--attended] HOST_TTY [BAUD_INDEX]\ntavrel-demo-setup --remove\n",
    "Prepares the device for trying Tavrel with HOST_TTY as the built-in port COM9: unattended,\n"
    "Tavrel relays it to COM2 and COM3 as soon as it starts; --attended preselects it in the\n"
    "window; --remove takes the demo's port and Autostart away again.\n"};

int Usage()
{
    return tavrel::command_line::WrongUsage(kDemoSetup);
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kDemoSetup, argc, argv)) {
        return *answered;
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool remove = arguments.size() == 1 && arguments[0] == "--remove";
    const bool attended = !arguments.empty() && arguments[0] == "--attended";
    if (attended) {
        arguments.erase(arguments.begin());
    }
    const bool unknownOption = !remove && !arguments.empty() && arguments[0].starts_with('-');
    if (unknownOption || (!remove && (arguments.empty() || arguments.size() > 2))) {
        return Usage();
    }
    const std::optional<DWORD> baudIndex = TypedBaudIndex(arguments.size() == 2 ? arguments[1] : "5");
    std::error_code error;
    if (!remove && !baudIndex) {
        std::fprintf(stderr, "tavrel-demo-setup: the baud index must be a number from 0 to 14, not '%s'\n",
                     arguments[1].c_str());
        return 2;
    }
    if (!remove && !std::filesystem::exists(arguments[0], error)) {
        std::fprintf(stderr, "tavrel-demo-setup: there is no serial device %s\n", arguments[0].c_str());
        return 2;
    }
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    platform::BootDevice(settings);
    const bool done = remove ? RemoveDemo() : PrepareDemo(arguments[0], *baudIndex, attended);
    platform::ShutdownDevice();
    if (!done) {
        std::fprintf(stderr, "tavrel-demo-setup: cannot change the device at %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    return 0;
}
