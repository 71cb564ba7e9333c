// The process entry: reads the configuration, boots the device, picks the
// display, runs the program's WinMain on this (the user-interface) thread and
// exits with its code. SIGTERM, SIGINT, SIGHUP and SIGQUIT close the program's
// window, so the program ends as when a person closes it; one that comes while
// the device boots ends the process without starting the program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/boot.h"
#include "platform/display.h"
#include "platform/user.h"
#include "platform/winmain.h"
#include "runtime/termination_watch.h"

namespace {

void ChooseDisplay()
{
    const char* chosen = std::getenv("TAVREL_DISPLAY");
    const std::string display = chosen != nullptr ? chosen : "auto";
    if (display == "qt") {
        std::fputs("platform: the qt display is not part of this build; running headless\n", stderr);
    } else if (display != "auto" && display != "headless") {
        std::fprintf(stderr, "platform: unknown TAVREL_DISPLAY '%s'; running headless\n", display.c_str());
    }
    platform::SetDisplay(std::make_shared<platform::HeadlessDisplay>());
}

}  // namespace

int main()
{
    int exitCode = 0;
    {
        // Before any other thread starts, so that only the watch receives the signals.
        platform::TerminationWatch watch;
        const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
        for (const std::string& problem : platform::BootDevice(settings).problems) {
            std::fprintf(stderr, "platform: %s\n", problem.c_str());
        }
        ChooseDisplay();
        if (const auto signal = watch.BootEnded()) {
            exitCode = platform::ExitCodeOfSignal(*signal);
        } else {
            WCHAR commandLine[] = u"";
            exitCode = WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW);
        }
    }
    platform::ShutdownDevice();
    return exitCode;
}
