// What the program does with its host command line before the platform opens
// its window and boots its device: it answers --help and --version, and it
// sets itself up on a device that has none of it yet, as tavrel-install
// would (or brings an older install up to date), so that a person who starts
// Tavrel from the menu or a shell without installing first gets its virtual
// ports all the same. Autostart stays as the person's settings say.
#include <cstdio>
#include <optional>
#include <string>

#include "command_line/command_options.h"
#include "platform/winmain.h"
#include "setup/device_install.h"
#include "setup/device_setup.h"

namespace {

const tavrel::command_line::Command kTavrel{
    "tavrel", "tavrel\n",
    "Reads one serial port (a GPS receiver, say) and copies everything it reads to up to ten\n"
    "virtual serial ports that other programs open at the same time. The window chooses the\n"
    "ports; the device is TAVREL_DEVICE_ROOT's (by default ~/.local/share/tavrel), and it is\n"
    "set up at the first start. TAVREL_DISPLAY: auto, qt or headless. TAVREL_DEBUG=1: the\n"
    "debug lines on stderr.\n"};

}  // namespace

std::optional<int> ProgramStart(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kTavrel, argc, argv)) {
        return answered;
    }
    if (argc > 1) {
        return tavrel::command_line::WrongUsage(kTavrel);
    }
    return std::nullopt;
}

// Once the window can be shown: a display that cannot be opened leaves the device untouched.
void ProgramBeforeBoot()
{
    const platform::DeviceSettings settings = tavrel::setup::AbsoluteDeviceSettings();
    const tavrel::setup::DeviceSetUp setUp = tavrel::setup::SetUpDevice(settings, tavrel::setup::FindShippedFiles());
    for (const std::string& problem : setUp.problems) {
        std::fprintf(stderr, "tavrel: %s\n", problem.c_str());
    }
    if (const std::string line = tavrel::setup::SetUpLine(setUp, settings.deviceRoot); !line.empty()) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}
