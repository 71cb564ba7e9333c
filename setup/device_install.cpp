#include "setup/device_install.h"

#include <cerrno>
#include <optional>
#include <system_error>

#include "platform/host/file_calls.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "setup/autostart_entry.h"
#include "setup/device_setup.h"
#include "setup/durable_file.h"
#include "setup/module_record.h"
#include "setup/shortcut_text.h"

namespace tavrel::setup {
namespace {

bool WriteInstallPath()
{
    const platform::RegistryKey key(HKEY_LOCAL_MACHINE, kProductKey, platform::RegistryKey::Open::OrCreate);
    return key.SetText(kInstallPathValue, kInstallFolder);
}

bool InstallPathInPlace()
{
    const platform::RegistryKey key(HKEY_LOCAL_MACHINE, kProductKey, platform::RegistryKey::Open::Existing);
    return key.Text(kInstallPathValue) == std::u16string(kInstallFolder);
}

std::string WriteShortcut()
{
    return WriteFileDurably(platform::HostPathOf(kProgramsShortcut), ShortcutText(kProgram), 0644);
}

bool ShortcutInPlace()
{
    return platform::host::ReadSmallFile(platform::HostPathOf(kProgramsShortcut)) == ShortcutText(kProgram);
}

// The module: made when missing, replaced when an older or another build put
// other bytes there; a module changed since its install stays.
void BringModuleUpToDate(const std::filesystem::path& shipped, DeviceSetUp& setUp)
{
    const std::filesystem::path module = platform::HostPathOf(kVirtualPortModule);
    if (SameBytes(module, shipped)) {
        return;
    }
    if (ChangedSinceInstalled(module)) {
        setUp.problems.push_back(module.string() + " was changed since it was installed; it is left as it is");
        return;
    }
    if (!InstallVirtualPortDriver(shipped)) {
        setUp.problems.push_back("cannot install " + shipped.string() + " as " + module.string());
        return;
    }
    setUp.refreshed.emplace_back("the virtual port module");
}

void BringRegistrationUpToDate(DeviceSetUp& setUp)
{
    if (!InstallPathInPlace()) {
        if (WriteInstallPath()) {
            setUp.refreshed.emplace_back("its install path");
        } else {
            setUp.problems.emplace_back("cannot write InstallPath into the device's registry");
        }
    }
    if (!ShortcutInPlace()) {
        const std::string problem = WriteShortcut();
        if (problem.empty()) {
            setUp.refreshed.emplace_back("the Programs shortcut");
        } else {
            setUp.problems.push_back(problem);
        }
    }
}

// The entry is written when there is none, and rewritten when it is this
// device's but runs another launcher (one that was moved or removed).
void BringEntryUpToDate(const platform::DeviceSettings& settings, const std::filesystem::path& launcher,
                        DeviceSetUp& setUp)
{
    const std::filesystem::path file = AutostartEntryFile();
    const std::optional<std::string> text = platform::host::ReadSmallFile(file);
    if (!text && errno != ENOENT) {
        setUp.problems.push_back(FileProblem("cannot read", file, errno));
        return;
    }
    std::filesystem::path portFolder = settings.portFolder;
    if (text) {
        const std::optional<EntryCommand> command = ReadEntryCommand(*text);
        if (!command || !SamePlace(command->deviceRoot, settings.deviceRoot) || command->launcher == launcher) {
            return;
        }
        portFolder = command->portFolder;
    }
    if (launcher.empty()) {
        setUp.problems.push_back(platform::CompanionNotFound(platform::RunningProgramFolder(), kStartupLauncherFile) +
                                 "; no start at login");
        return;
    }
    const std::string problem = WriteAutostartEntry(launcher, settings.deviceRoot, portFolder);
    if (!problem.empty()) {
        setUp.problems.push_back("no start at login: " + problem);
        return;
    }
    setUp.refreshed.emplace_back("the login entry");
}

}  // namespace

bool InstallIntoDevice(const std::filesystem::path& module, std::vector<std::string>& problems)
{
    if (!InstallVirtualPortDriver(module)) {
        problems.push_back("cannot install " + module.string() + " as " +
                           platform::HostPathOf(kVirtualPortModule).string());
        return false;
    }
    if (!WriteInstallPath()) {
        problems.emplace_back("cannot write InstallPath into the device's registry");
        return false;
    }
    const std::string problem = WriteShortcut();
    if (!problem.empty()) {
        problems.push_back(problem);
    }
    return problem.empty();
}

DeviceSetUp SetUpDevice(platform::DeviceSettings settings, const ShippedFiles& shipped)
{
    DeviceSetUp setUp;
    settings.syncHostSerialPorts = false;   // the program brings the ports in step when it boots
    const platform::BootResult boot = platform::BootDevice(settings);
    if (!boot.ok) {
        setUp.problems = boot.problems;   // otherwise the program's own boot says them
    }
    if (boot.ok) {
        std::error_code error;
        setUp.created = !InstallPathInPlace() &&
                        !std::filesystem::exists(platform::HostPathOf(kVirtualPortModule), error);
        if (shipped.module.empty()) {
            setUp.problems.push_back(
                platform::CompanionNotFound(platform::RunningProgramFolder(), kVirtualPortModuleFile));
        } else {
            BringModuleUpToDate(shipped.module, setUp);
        }
        BringRegistrationUpToDate(setUp);
    }
    platform::ShutdownDevice();
    if (boot.ok) {
        BringEntryUpToDate(settings, shipped.launcher, setUp);
    }
    return setUp;
}

std::string SetUpLine(const DeviceSetUp& setUp, const std::filesystem::path& deviceRoot)
{
    if (setUp.created) {
        return "Tavrel set up its device at " + deviceRoot.string() +
               " (Autostart stays off until it is ticked in the window)";
    }
    if (setUp.refreshed.empty()) {
        return {};
    }
    std::string line = "Tavrel brought its device at " + deviceRoot.string() + " up to date: ";
    for (std::size_t i = 0; i < setUp.refreshed.size(); ++i) {
        line += (i == 0 ? "" : ", ") + setUp.refreshed[i];
    }
    return line;
}

}  // namespace tavrel::setup
