// The process entry: reads the configuration, boots the device, picks the
// display, runs the program's WinMain on this (the user-interface) thread and
// exits with its code. SIGTERM and SIGINT close the program's window, so the
// program ends as when a person closes it.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>

#include "platform/boot.h"
#include "platform/display.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "platform/winmain.h"

namespace {

sigset_t TerminationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

// The program's own window: its oldest top-level dialog that is not a message box.
HWND ProgramWindow()
{
    HWND oldest = nullptr;
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = platform::input::Inspect(window);
        if (state && state->className == u"#32770" && !state->isMessageBox) {
            oldest = window;
        }
    }
    return oldest;
}

// Waits for SIGTERM or SIGINT and then asks the program's window to close,
// again every second until the program has ended.
class TerminationWatch {
public:
    TerminationWatch() : thread_([this] { Run(); }) {}
    ~TerminationWatch()
    {
        done_ = true;
        thread_.join();
    }
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

private:
    void Run()
    {
        const sigset_t signals = TerminationSignals();
        const timespec poll{0, 200'000'000};
        bool asked = false;
        int sincePost = 0;
        while (!done_) {
            if (sigtimedwait(&signals, nullptr, &poll) > 0) {
                asked = true;
                sincePost = 5;
            }
            if (asked && ++sincePost >= 5) {
                sincePost = 0;
                if (HWND window = ProgramWindow()) {
                    PostMessageW(window, WM_CLOSE, 0, 0);
                }
            }
        }
    }

    std::atomic<bool> done_{false};
    std::thread thread_;
};

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
    // Blocked before any thread starts, so only the watch receives them.
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    for (const std::string& problem : platform::BootDevice(settings).problems) {
        std::fprintf(stderr, "platform: %s\n", problem.c_str());
    }
    ChooseDisplay();
    int exitCode = 0;
    {
        TerminationWatch watch;
        WCHAR commandLine[] = u"";
        exitCode = WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW);
    }
    platform::ShutdownDevice();
    return exitCode;
}
