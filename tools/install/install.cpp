// tavrel-install: installs Tavrel into the device as an installer would, and
// registers it with the login session. The driver module goes to
// "\Program Files\Tavrel\quorvel.dll", "InstallPath" under
// HKEY_LOCAL_MACHINE\Software\Brenmor\Tavrel names that folder, the Programs
// folder gets the shortcut "Tavrel.lnk" that starts the program, and the
// autostart entry (see autostart_entry.h) runs the start-up launcher for this
// device at every login; the launcher starts Tavrel only while the device's
// StartUp folder holds its shortcut, i.e. while Autostart is ticked. Running
// it again changes nothing more; installing for another device root moves the
// autostart entry to that device.
//
// The module and the launcher are those that come with this program: beside
// it or in ../lib/<multiarch>/tavrel where a package installed it (the
// entry then runs /usr/bin/tavrel-startup), else the build's (see
// setup/installed_files.h); --module names another module.
//
// --uninstall takes away exactly those four things, each only when it is
// what install made: the module that install recorded (and the install
// folder when it is left empty), "InstallPath" (and its key when it is left
// empty), the Programs shortcut, and the autostart entry made for this device
// root. Each removal that fails is said on stderr with its reason, the others
// still happen, and the exit code is 1; so is a module that is not the one
// install put there, which stays. It leaves the person's settings: the values
// under HKEY_CURRENT_USER, the StartUp shortcut that follows the Autostart
// option, and the virtual port and built-in port keys; so a later install
// brings Tavrel back as it was.
//
// --system (as root) makes the machine's folder for every user's ports,
// /run/tavrel, now and at every boot; --uninstall --system takes it away (see
// system_folder.h). TAVREL_SYSTEM_ROOT names a folder that stands for / (for
// tests).
//
//   tavrel-install [--module PATH]
//   tavrel-install --uninstall
//   tavrel-install [--uninstall] --system
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "command_line/command_options.h"
#include "platform/boot.h"
#include "setup/autostart_entry.h"
#include "setup/device_install.h"
#include "setup/device_setup.h"
#include "setup/installed_files.h"
#include "tools/install/system_folder.h"
#include "tools/install/uninstall.h"

namespace {

const tavrel::command_line::Command kInstall{
    "tavrel-install",
    "tavrel-install [--module PATH]\n"
    "tavrel-install --uninstall\n"
    "tavrel-install [--uninstall] --system\n",
    "Installs Tavrel into the device (TAVREL_DEVICE_ROOT's, or the default one): the virtual port\n"
    "module (PATH, or the one that comes with this program), the Programs shortcut and the login\n"
    "entry that starts Tavrel when its Autostart option is ticked. --uninstall takes them away and\n"
    "keeps the settings. --system (as root): the machine's folder for every user's ports, /run/tavrel.\n"};

bool BootForInstall(const platform::DeviceSettings& settings)
{
    const platform::BootResult boot = platform::BootDevice(settings);
    for (const std::string& problem : boot.problems) {
        std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
    }
    return boot.ok;
}

int Install(const platform::DeviceSettings& settings, const tavrel::setup::ShippedFiles& shipped)
{
    std::vector<std::string> problems;
    const bool installed = BootForInstall(settings) && tavrel::setup::InstallIntoDevice(shipped.module, problems);
    platform::ShutdownDevice();
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
    }
    if (!installed) {
        std::fprintf(stderr, "tavrel-install: could not install into %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    std::printf("Tavrel installed into the device at %s\n", settings.deviceRoot.c_str());
    const std::string problem =
        shipped.launcher.empty()
            ? platform::CompanionNotFound(platform::RunningProgramFolder(), tavrel::setup::kStartupLauncherFile)
            : tavrel::setup::WriteAutostartEntry(shipped.launcher, settings.deviceRoot, settings.portFolder);
    if (!problem.empty()) {
        std::fprintf(stderr, "tavrel-install: no start at login: %s\n", problem.c_str());
        return 1;
    }
    std::printf("At login, %s starts it when Autostart is ticked\n", tavrel::setup::AutostartEntryFile().c_str());
    return 0;
}

int Uninstall(platform::DeviceSettings settings, const tavrel::setup::ShippedFiles& shipped)
{
    const bool entryGone = tavrel::tools::UninstallEntry(settings.deviceRoot);
    std::error_code error;
    if (!std::filesystem::is_directory(settings.deviceRoot / "registry", error)) {
        std::printf("There is no device at %s; nothing more to uninstall\n", settings.deviceRoot.c_str());
        return entryGone ? 0 : 1;
    }
    settings.syncHostSerialPorts = false;   // leave the built-in port keys as they are
    const bool booted = BootForInstall(settings);
    const bool deviceDone = booted && tavrel::tools::UninstallFromDevice(shipped.module);
    platform::ShutdownDevice();
    if (!booted) {
        std::fprintf(stderr, "tavrel-install: could not uninstall from %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    if (!entryGone || !deviceDone) {
        std::fprintf(stderr, "tavrel-install: Tavrel is not wholly uninstalled from the device at %s (see above)\n",
                     settings.deviceRoot.c_str());
        return 1;
    }
    std::printf("Tavrel uninstalled from the device at %s; its settings are kept\n", settings.deviceRoot.c_str());
    return 0;
}

tavrel::tools::SystemRoot SystemRootFromEnvironment()
{
    tavrel::tools::SystemRoot system;
    if (const char* root = std::getenv("TAVREL_SYSTEM_ROOT"); root != nullptr && *root != '\0') {
        system.root = root;
    }
    return system;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kInstall, argc, argv)) {
        return *answered;
    }
    const std::vector<std::string> options(argv + 1, argv + argc);
    using Options = std::vector<std::string>;
    if (options == Options{"--system"}) {
        return tavrel::tools::InstallSystemFolder(SystemRootFromEnvironment());
    }
    if (options == Options{"--uninstall", "--system"} || options == Options{"--system", "--uninstall"}) {
        return tavrel::tools::UninstallSystemFolder(SystemRootFromEnvironment());
    }
    const bool uninstall = options == Options{"--uninstall"};
    const bool withModule = options.size() == 2 && options[0] == "--module";
    if (!options.empty() && !uninstall && !withModule) {
        return tavrel::command_line::WrongUsage(kInstall);
    }
    tavrel::setup::ShippedFiles shipped = tavrel::setup::FindShippedFiles();
    if (withModule) {
        shipped.module = options[1];
    }
    // The autostart entry runs from another working folder: it names absolute paths.
    const platform::DeviceSettings settings = tavrel::setup::AbsoluteDeviceSettings();
    if (uninstall) {
        return Uninstall(settings, shipped);
    }
    if (shipped.module.empty()) {
        std::fprintf(stderr, "tavrel-install: %s\n",
                     platform::CompanionNotFound(platform::RunningProgramFolder(),
                                                 tavrel::setup::kVirtualPortModuleFile).c_str());
        return 1;
    }
    return Install(settings, shipped);
}
