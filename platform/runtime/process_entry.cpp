// The process entry: lets the program answer its command line first (see
// ProgramStart), reads the configuration, picks the display, lets the program
// prepare its device (ProgramBeforeBoot), boots the
// device, runs the program's WinMain and exits with its code. On the headless
// display WinMain runs on this thread; on the qt display (a module loaded only
// then, see qt_display_module.h) Qt keeps this thread and WinMain runs on a
// user-interface thread of its own. SIGTERM, SIGINT,
// SIGHUP, SIGQUIT, SIGUSR1 and SIGUSR2 end the program as when a person closes its window, its
// message boxes answered and its dialogs closed first; one that comes while
// the device boots ends the process without starting the program.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/display.h"
#include "platform/user.h"
#include "platform/winmain.h"
#include "runtime/display_choice.h"
#include "runtime/qt_display_module.h"
#include "runtime/termination_watch.h"

namespace {

void Report(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "platform: %s\n", problem.c_str());
    }
}

int RunWinMain()
{
    WCHAR commandLine[] = u"";
    return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW);
}

int RunHeadless(const platform::ScreenSize& screen)
{
    platform::SetDisplay(std::make_shared<platform::HeadlessDisplay>(screen.width, screen.height));
    return RunWinMain();
}

// Qt, when the choice allows it and a display can be opened; null for headless.
std::unique_ptr<platform::qt::QtSession> OpenQt(const platform::DisplayChoice& choice)
{
    using platform::DisplayKind;
    if (choice.kind == DisplayKind::Headless) {
        return nullptr;
    }
    if (choice.kind == DisplayKind::Auto && !platform::DisplayServerNamed()) {
        std::fputs("platform: no display is named (DISPLAY, WAYLAND_DISPLAY); running headless\n", stderr);
        return nullptr;
    }
    std::string whyNot;
    auto session = platform::OpenQtSession({choice.screen.width, choice.screen.height, choice.scale}, whyNot);
    if (session == nullptr && choice.kind == DisplayKind::Qt) {
        std::fprintf(stderr, "platform: TAVREL_DISPLAY=qt, but %s\n", whyNot.c_str());
    } else if (session == nullptr) {
        std::fprintf(stderr, "platform: %s; running headless\n", whyNot.c_str());
    }
    return session;
}

// The program's device follows the host's serial devices while it runs, so
// its list of ports does too.
platform::DeviceSettings ProgramDeviceSettings()
{
    platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    settings.followHostSerialPorts = true;
    return settings;
}

}  // namespace

int main(int argc, char** argv)
{
    int exitCode = 0;
    {
        // Before any other thread starts (Qt's included), so that only the watch receives the signals.
        platform::TerminationWatch watch;
        if (const std::optional<int> ended = ProgramStart(argc, argv)) {
            return *ended;
        }
        const platform::DisplayChoice display = platform::DisplayChoiceFromEnvironment();
        Report(display.problems);
        std::unique_ptr<platform::qt::QtSession> qt = OpenQt(display);
        if (qt == nullptr && display.kind == platform::DisplayKind::Qt) {
            return EXIT_FAILURE;
        }
        ProgramBeforeBoot();
        Report(platform::BootDevice(ProgramDeviceSettings()).problems);
        if (const auto signal = watch.BootEnded()) {
            exitCode = platform::ExitCodeOfSignal(*signal);
        } else {
            exitCode = qt != nullptr ? qt->Run(RunWinMain, platform::ShutdownDevice) : RunHeadless(display.screen);
        }
        qt.reset();
    }
    platform::ShutdownDevice();
    return exitCode;
}
