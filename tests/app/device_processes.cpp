#include "device_processes.h"

#include <algorithm>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/user.h"
#include "program_harness.h"
#include "settings/split_mask.h"
#include "setup/builtin_port_keys.h"
#include "setup/device_setup.h"

namespace tavrel::testing {
namespace {

using namespace std::chrono_literals;

enum class HostPorts { Listed, NotLookedAt };

platform::BootResult BootOn(const std::filesystem::path& root, const std::filesystem::path& ports,
                            HostPorts hostPorts = HostPorts::NotLookedAt)
{
    platform::DeviceSettings settings;
    settings.deviceRoot = root;
    settings.portFolder = ports;
    settings.syncHostSerialPorts = hostPorts == HostPorts::Listed;
    return platform::BootDevice(settings);
}

struct WindowSearch {
    std::u16string title;
    bool found = false;
};

BOOL WindowTitled(HWND window, LPARAM search)
{
    auto& wanted = *reinterpret_cast<WindowSearch*>(search);
    WCHAR title[64] = {};
    GetWindowTextW(window, title, 64);
    if (std::u16string(title) != wanted.title) {
        return TRUE;
    }
    wanted.found = true;
    return FALSE;
}

}  // namespace

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool WaitForLinks(const std::vector<std::filesystem::path>& links, std::chrono::seconds timeout)
{
    return WaitForCondition([&] { return std::all_of(links.begin(), links.end(), Exists); }, timeout);
}

bool WaitForError(const ChildProcess& process, const std::string& text, std::chrono::seconds timeout)
{
    return WaitForCondition([&] { return process.Errors().find(text) != std::string::npos; }, timeout);
}

std::vector<std::filesystem::path> BootRunDevice::SavedOutputLinks() const
{
    std::vector<std::filesystem::path> links;
    for (int n : kSavedOutputs) {
        links.push_back(PortLink(n));
    }
    return links;
}

std::filesystem::path BootRunDevice::StartupShortcut() const
{
    return root() / "fs" / "Windows" / "StartUp" / "Tavrel.lnk";
}

void BootRunDevice::Install() const
{
    ChildProcess install = Run(TAVREL_INSTALL_PATH, "install");
    ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
}

void BootRunDevice::Boot() const
{
    ASSERT_TRUE(BootOn(root(), ports()).ok);
}

void BootRunDevice::PrepareLastRun(DWORD autostart, const std::optional<std::string>& inputDevice,
                                   const std::vector<int>& outputs)
{
    // Whether every host port comes up does not matter here: the program's
    // own boot reports that.
    BootOn(root(), ports(), HostPorts::Listed);
    const std::string input = inputDevice.value_or(gps_.slavePath());
    std::vector<int> numbers = outputs;
    numbers.push_back(static_cast<int>(kSavedInput));
    EXPECT_TRUE(setup::MoveBuiltInPortsOff(numbers, input));
    EXPECT_TRUE(setup::MapBuiltInPort(u"Gps", static_cast<int>(kSavedInput), input));
    SetUserNumber(u"Autostart", autostart);
    SetUserNumber(u"Split", EncodeSplit(PortList(outputs.begin(), outputs.end())));
    SetUserNumber(u"Port", kSavedInput);
    SetUserNumber(u"Baud", 12);
    platform::ShutdownDevice();
}

void BootRunDevice::PlaceStartupShortcut() const
{
    std::filesystem::copy_file(root() / "fs" / "Windows" / "Start Menu" / "Programs" / "Tavrel.lnk", StartupShortcut(),
                               std::filesystem::copy_options::overwrite_existing);
}

void BootRunDevice::ExpectLastRunEndedAsClosingTheWindow(ChildProcess& program) const
{
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    for (const auto& link : SavedOutputLinks()) {
        EXPECT_FALSE(Exists(link)) << link;
    }
    EXPECT_EQ(SavedNumber(u"Split"), kSavedSplit);
    EXPECT_EQ(SavedNumber(u"Autostart"), 1u);
    EXPECT_TRUE(Exists(StartupShortcut()));
}

std::map<std::string, std::string> BootRunDevice::Environment() const
{
    std::map<std::string, std::string> environment = DeviceEnvironment(root(), ports());
    environment["XDG_CONFIG_HOME"] = configFolder().string();
    return environment;
}

ChildProcess BootRunDevice::Run(const std::string& program, const std::string& name,
                                const std::vector<std::string>& arguments, const StartBarrier* barrier,
                                const std::map<std::string, std::string>& more) const
{
    std::map<std::string, std::string> environment = Environment();
    for (const auto& [variable, value] : more) {
        environment[variable] = value;
    }
    return ChildProcess(program, arguments, environment, scratch() / name, barrier);
}

bool BootRunDevice::WaitForMainWindow(std::chrono::seconds timeout) const
{
    return WaitForWindow(kMainCaption, timeout);
}

bool BootRunDevice::WaitForWindow(const std::u16string& title, std::chrono::seconds timeout) const
{
    // The device may be damaged on purpose: it need not come up whole here.
    BootOn(root(), ports());
    const bool shown = WaitForCondition(
        [&title] {
            WindowSearch search{title};
            EnumWindows(WindowTitled, reinterpret_cast<LPARAM>(&search));
            return search.found;
        },
        timeout);
    platform::ShutdownDevice();
    return shown;
}

std::optional<DWORD> BootRunDevice::SavedNumber(const std::u16string& name) const
{
    BootOn(root(), ports());
    const std::optional<DWORD> number = UserNumber(name);
    platform::ShutdownDevice();
    return number;
}

void BootRunDevice::SaveNumber(const std::u16string& name, DWORD value) const
{
    BootOn(root(), ports());
    SetUserNumber(name, value);
    platform::ShutdownDevice();
}

void BootRunDevice::SaveText(const std::u16string& name, const std::u16string& text) const
{
    BootOn(root(), ports());
    WriteText(HKEY_CURRENT_USER, kSettingsKey, name, text);
    platform::ShutdownDevice();
}

void AutostartDeviceTest::SetUp()
{
    Install();
    PrepareLastRun(1);
    PlaceStartupShortcut();
}

}  // namespace tavrel::testing
