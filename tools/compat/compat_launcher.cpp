// tavrel-compat: runs a program so that it finds modem lines on Tavrel's
// virtual ports. A pseudo-terminal answers TIOCMGET, TIOCMSET, TIOCMBIS and
// TIOCMBIC with ENOTTY, and programs built on QSerialPort (cutecom), or
// pyserial scripts that read .cts/.dsr/.cd, give up on such a port. The
// launcher preloads a small library that answers those requests on Tavrel's
// ports as a connected null-modem cable would, and execs the program.
//
//   tavrel-compat PROGRAM [ARGUMENTS...]
//
// Exit codes, as a shell's: the program's own; 2 without a program (usage on
// stderr); 127 when the program is not found, 126 when it cannot be run;
// 125 when the library cannot be found or preloaded.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <optional>

#include "command_line/command_options.h"
#include "compat_contract.h"
#include "launch_setup.h"
#include "platform/boot.h"
#include "platform/companion_files.h"

namespace {

constexpr int kOwnFailure = 125;
constexpr int kCannotRun = 126;
constexpr int kNotFound = 127;

const tavrel::command_line::Command kCompat{
    "tavrel-compat", "tavrel-compat PROGRAM [ARGUMENTS...]\n",
    "Runs PROGRAM so that it finds modem lines (DTR, RTS, CTS, DSR, CD) on Tavrel's\n"
    "virtual ports, as QSerialPort programs such as cutecom insist on.\n"};

// Sets LD_PRELOAD; false (with a line on stderr) when the library cannot be found or preloaded.
bool PreloadLibrary()
{
    const std::filesystem::path folder = platform::RunningProgramFolder();
    const std::filesystem::path library = platform::FindCompanion(folder, tavrel::compat::kPreloadLibraryName);
    if (library.empty()) {
        std::fprintf(stderr, "tavrel-compat: %s\n",
                     platform::CompanionNotFound(folder, tavrel::compat::kPreloadLibraryName).c_str());
        return false;
    }
    if (!tavrel::compat::PreloadablePath(library)) {
        std::fprintf(stderr, "tavrel-compat: %s cannot be preloaded from a path with a space or a colon\n",
                     library.c_str());
        return false;
    }
    const std::string list = tavrel::compat::PreloadList(library, std::getenv("LD_PRELOAD"));
    return ::setenv("LD_PRELOAD", list.c_str(), 1) == 0;
}

// This person's ports lie in the folder that TAVREL_PORT_DIR names, in their
// folder under the machine's system port folder (listed with every other
// user's there), or in ports/ under the device root.
void PassPortFolders()
{
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    const std::filesystem::path own =
        settings.portFolder.empty() ? settings.deviceRoot / "ports" : settings.portFolder;
    const auto folders = tavrel::compat::PortFolders(own, settings.systemPortFolder);
    const tavrel::compat::JoinedFolders joined = tavrel::compat::JoinFolders(folders);
    for (const std::filesystem::path& folder : joined.leftOut) {
        std::fprintf(stderr, "tavrel-compat: the ports in %s are left as they are: its name holds a ':'\n",
                     folder.c_str());
    }
    ::setenv(tavrel::compat::kPortFoldersVariable, joined.text.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kCompat, argc, argv)) {
        return *answered;
    }
    if (argc < 2) {
        return tavrel::command_line::WrongUsage(kCompat);
    }
    if (!PreloadLibrary()) {
        return kOwnFailure;
    }
    PassPortFolders();
    ::execvp(argv[1], argv + 1);
    const int error = errno;
    const bool searched = std::strchr(argv[1], '/') == nullptr;
    std::fprintf(stderr, "tavrel-compat: %s: %s\n", argv[1],
                 error == ENOENT && searched ? "command not found" : std::strerror(error));
    return error == ENOENT ? kNotFound : kCannotRun;
}
