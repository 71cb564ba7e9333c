#include "boot_run.h"

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/user.h"
#include "program_harness.h"
#include "tools/device_setup.h"

namespace tavrel::testing {
namespace {

// The built-in numbers that the installer's boot found on this host.
std::vector<DWORD> BuiltInNumbers()
{
    std::vector<DWORD> numbers;
    HKEY builtIn = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, 0, &builtIn) != 0) {
        return numbers;
    }
    for (DWORD i = 0;; ++i) {
        WCHAR name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(builtIn, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) {
            break;
        }
        if (const auto index = ReadNumber(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\" + std::u16string(name), u"Index")) {
            numbers.push_back(*index);
        }
    }
    RegCloseKey(builtIn);
    return numbers;
}

bool SomeWindowIsTavrels()
{
    bool found = false;
    EnumWindows(
        [](HWND window, LPARAM result) -> BOOL {
            WCHAR title[64] = {};
            GetWindowTextW(window, title, 64);
            *reinterpret_cast<bool*>(result) = std::u16string_view(title).starts_with(u"Tavrel");
            return !*reinterpret_cast<bool*>(result);
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

void BootRunDevice::Boot() const
{
    platform::DeviceSettings settings;
    settings.deviceRoot = root();
    settings.portFolder = ports();
    settings.syncHostSerialPorts = false;
    ASSERT_TRUE(platform::BootDevice(settings).ok);
}

std::optional<DWORD> BootRunDevice::PrepareLastRun(DWORD autostart)
{
    Boot();
    const std::vector<DWORD> taken = BuiltInNumbers();
    std::optional<DWORD> input;
    for (DWORD n : {1u, 3u, 4u, 6u, 7u, 8u, 9u, 0u}) {
        if (!input && std::find(taken.begin(), taken.end(), n) == taken.end()) {
            input = n;
        }
    }
    const bool outputsFree = std::find(taken.begin(), taken.end(), 2u) == taken.end() &&
                             std::find(taken.begin(), taken.end(), 5u) == taken.end();
    if (input && outputsFree) {
        EXPECT_TRUE(tavrel::tools::MapBuiltInPort(u"Gps", static_cast<int>(*input), gps_.slavePath()));
        SetUserNumber(u"Autostart", autostart);
        SetUserNumber(u"Split", 72);
        SetUserNumber(u"Port", *input);
        SetUserNumber(u"Baud", 12);
    }
    platform::ShutdownDevice();
    return outputsFree ? input : std::nullopt;
}

bool BootRunDevice::WaitForProgramWindow(std::chrono::seconds timeout) const
{
    Boot();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool shown = SomeWindowIsTavrels();
    while (!shown && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        shown = SomeWindowIsTavrels();
    }
    platform::ShutdownDevice();
    return shown;
}

std::map<std::string, std::string> BootRunDevice::Environment() const
{
    std::map<std::string, std::string> environment = DeviceEnvironment(root(), ports());
    environment["XDG_CONFIG_HOME"] = configFolder().string();
    return environment;
}

ChildProcess BootRunDevice::Run(const std::string& program, const std::string& name,
                                const std::vector<std::string>& arguments) const
{
    return ChildProcess(program, arguments, Environment(), scratch() / name);
}

bool PathExists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool WaitForLinks(const std::vector<std::filesystem::path>& links, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::all_of(links.begin(), links.end(), PathExists)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace tavrel::testing
