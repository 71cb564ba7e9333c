// tavrel-startup: does on the host what the device does at boot with its
// "\Windows\StartUp" folder. Every shortcut there is read; one that starts
// Tavrel.exe of the install folder starts the host's `tavrel`, which lies
// beside this launcher. A file that is no shortcut, or a shortcut to any
// other program, gets a line on stderr and is skipped; no file is changed or
// deleted. The device is the one that TAVREL_DEVICE_ROOT names (or its
// default); a device root that does not exist (any more) starts nothing and
// is not created again.
//
// tavrel is started detached (a session of its own, so that it outlives the
// launcher and the terminal or session step that ran it), with the device
// root in its environment, standard input from /dev/null and standard output
// and error shared with the launcher (the login session's or the service's
// log). It ignores SIGPIPE, so that a log that goes away never ends it.
//
//   tavrel-startup
// Exit code 0 when every program it found was started (or there was none),
// also when files were skipped: a service manager that takes a failed start
// for a reason to end what it started must not end Tavrel for a stray file.
// 1 when the device is missing or unreadable or a program could not start.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <vector>

#include "command_line/command_options.h"
#include "platform/boot.h"
#include "platform/companion_files.h"
#include "platform/strings.h"
#include "setup/installed_files.h"
#include "setup/device_setup.h"
#include "setup/shortcut_text.h"
#include "tools/startup/startup_folder.h"

extern char** environ;

namespace {

const tavrel::command_line::Command kStartup{
    "tavrel-startup", "tavrel-startup\n",
    "Starts the tavrel beside it when the device's StartUp folder holds Tavrel's shortcut, i.e.\n"
    "while Autostart is ticked. The device is TAVREL_DEVICE_ROOT's, or the default one.\n"};

// What to start: the shortcuts that name Tavrel.exe (one start is enough:
// a second copy would only bring the first back to the foreground).
std::vector<std::u16string> ShortcutsToRun(const tavrel::tools::StartupFolder& folder, const std::u16string& program)
{
    std::vector<std::u16string> toRun;
    for (const std::string& line : folder.notShortcuts) {
        std::fprintf(stderr, "tavrel-startup: %s; skipped\n", line.c_str());
    }
    for (const auto& [file, target] : folder.shortcuts) {
        if (!tavrel::setup::SameDevicePath(target, program)) {
            std::fprintf(stderr, "tavrel-startup: %s starts %s, which is not a program of this host; skipped\n",
                         platform::ToUtf8(file).c_str(), platform::ToUtf8(target).c_str());
        } else if (!toRun.empty()) {
            std::fprintf(stderr, "tavrel-startup: %s starts Tavrel again; skipped\n", platform::ToUtf8(file).c_str());
        } else {
            toRun.push_back(file);
        }
    }
    return toRun;
}

// Reads the device's StartUp folder; nothing when the device cannot be read.
std::optional<std::vector<std::u16string>> ReadDevice(platform::DeviceSettings settings)
{
    settings.syncHostSerialPorts = false;   // tavrel brings the ports in step when it boots
    const platform::BootResult boot = platform::BootDevice(settings);
    std::optional<std::vector<std::u16string>> toRun;
    if (boot.ok) {
        toRun = ShortcutsToRun(tavrel::tools::ReadStartupFolder(), tavrel::tools::InstalledProgramPath());
    } else {
        for (const std::string& problem : boot.problems) {
            std::fprintf(stderr, "tavrel-startup: %s\n", problem.c_str());
        }
    }
    platform::ShutdownDevice();
    return toRun;
}

bool StartDetached(const std::filesystem::path& program, const std::u16string& shortcut)
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::string path = program.string();
    char* arguments[] = {path.data(), nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        std::fprintf(stderr, "tavrel-startup: cannot start %s for %s: %s\n", path.c_str(),
                     platform::ToUtf8(shortcut).c_str(), std::strerror(error));
        return false;
    }
    std::printf("tavrel-startup: started %s (pid %d) for %s\n", path.c_str(), static_cast<int>(pid),
                platform::ToUtf8(shortcut).c_str());
    return true;
}

std::filesystem::path ProgramBesideThisOne()
{
    return platform::RunningProgramFolder() / "tavrel";
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kStartup, argc, argv)) {
        return *answered;
    }
    if (argc != 1) {
        return tavrel::command_line::WrongUsage(kStartup);
    }
    std::signal(SIGPIPE, SIG_IGN);
    const platform::DeviceSettings settings = tavrel::setup::AbsoluteDeviceSettings();
    std::error_code error;
    if (!std::filesystem::is_directory(settings.deviceRoot / "registry", error)) {
        std::fprintf(stderr, "tavrel-startup: there is no device at %s (removed?); nothing started\n",
                     settings.deviceRoot.c_str());
        return 1;
    }
    // Before any thread runs: tavrel finds the same device whatever the launcher's working folder.
    ::setenv("TAVREL_DEVICE_ROOT", settings.deviceRoot.c_str(), 1);

    const std::optional<std::vector<std::u16string>> toRun = ReadDevice(settings);
    if (!toRun) {
        std::fprintf(stderr, "tavrel-startup: cannot read the device at %s; nothing started\n",
                     settings.deviceRoot.c_str());
        return 1;
    }
    if (toRun->empty()) {
        std::puts("tavrel-startup: nothing to start");
    }
    const std::filesystem::path program = ProgramBesideThisOne();
    bool allStarted = true;
    for (const std::u16string& shortcut : *toRun) {
        allStarted = StartDetached(program, shortcut) && allStarted;
    }
    return allStarted ? 0 : 1;
}
