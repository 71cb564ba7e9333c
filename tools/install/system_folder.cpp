#include "tools/install/system_folder.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/host/file_calls.h"
#include "platform/host/interrupted_calls.h"
#include "platform/host/unique_fd.h"
#include "setup/durable_file.h"

extern char** environ;

namespace tavrel::tools {

const char* const kTmpfilesEntryText =
    "# The folder for the virtual ports of Tavrel's users, made by tavrel-install --system\n"
    "d /run/tavrel 1777 root root -\n";

namespace {

bool RefusedUnlessRoot()
{
    if (::geteuid() == 0) {
        return false;
    }
    std::fputs("tavrel-install: --system changes the machine for every user and needs root "
               "(sudo tavrel-install --system); nothing was changed\n",
               stderr);
    return true;
}

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

// Written whole and durably: a boot never finds half an entry.
bool WriteEntry(const std::filesystem::path& entry)
{
    if (const std::string problem = setup::WriteFileDurably(entry, kTmpfilesEntryText, 0644); !problem.empty()) {
        std::fprintf(stderr, "tavrel-install: %s\n", problem.c_str());
        return false;
    }
    std::printf("Wrote %s, which makes the port folder at every boot\n", entry.c_str());
    return true;
}

// systemd-tmpfiles --create ENTRY, as at boot; nothing when it is not installed.
std::optional<int> RunTmpfiles(const SystemRoot& system)
{
    std::vector<std::string> arguments{"systemd-tmpfiles", "--create"};
    if (system.root != "/") {
        arguments.push_back("--root=" + system.root.string());
    }
    arguments.push_back(system.TmpfilesEntry().string());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return std::nullopt;
    }
    int status = 0;
    platform::host::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Makes the folder as the entry describes it, where systemd-tmpfiles is missing.
std::string MakeFolderDirectly(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 01777) != 0 && errno != EEXIST) {
        return "cannot be made: " + ErrnoText(errno);
    }
    const platform::host::UniqueFd made(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made.valid()) {
        return "is in the way and is not a folder";
    }
    if (::fchown(made.get(), 0, 0) != 0 || ::fchmod(made.get(), 01777) != 0) {
        return "cannot be given to root with mode 1777: " + ErrnoText(errno);
    }
    return {};
}

// Whether the folder is as Tavrel needs it: a real folder, root's, mode 1777.
bool FolderIsSound(const std::filesystem::path& folder)
{
    struct stat found {};
    return ::lstat(folder.c_str(), &found) == 0 && S_ISDIR(found.st_mode) && found.st_uid == 0 &&
           (found.st_mode & 07777) == 01777;
}

bool MakeFolder(const SystemRoot& system)
{
    const std::filesystem::path folder = system.PortFolder();
    const std::optional<int> tmpfiles = RunTmpfiles(system);
    if (!tmpfiles) {
        if (const std::string fault = MakeFolderDirectly(folder); !fault.empty()) {
            std::fprintf(stderr, "tavrel-install: %s %s\n", folder.c_str(), fault.c_str());
            return false;
        }
    }
    if (!FolderIsSound(folder)) {
        std::fprintf(stderr, "tavrel-install: %s could not be made root's with mode 1777%s\n", folder.c_str(),
                     tmpfiles ? " (systemd-tmpfiles said why above)" : "");
        return false;
    }
    std::printf("Made %s: every user's Tavrel links its ports in a folder of its own there\n", folder.c_str());
    return true;
}

// Removes the entry only when it holds what install wrote; false on a failure.
bool RemoveEntry(const std::filesystem::path& entry)
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(entry, error))) {
        return true;
    }
    if (platform::host::ReadSmallFile(entry) != std::string(kTmpfilesEntryText)) {
        std::printf("%s was changed since install; left in place\n", entry.c_str());
        return true;
    }
    if (!std::filesystem::remove(entry, error)) {
        std::fprintf(stderr, "tavrel-install: cannot remove %s: %s\n", entry.c_str(), error.message().c_str());
        return false;
    }
    std::printf("Removed %s\n", entry.c_str());
    return true;
}

// Removes the folder when it is empty; false on a failure.
bool RemoveFolder(const std::filesystem::path& folder)
{
    struct stat found {};
    if (::lstat(folder.c_str(), &found) != 0) {
        return true;   // gone already (as after a reboot without the entry)
    }
    if (!S_ISDIR(found.st_mode)) {
        std::printf("%s is not a folder; left in place\n", folder.c_str());
    } else if (::rmdir(folder.c_str()) == 0) {
        std::printf("Removed %s\n", folder.c_str());
    } else if (errno == ENOTEMPTY || errno == EEXIST) {
        std::printf("%s still holds the port folders of its users; left in place (it goes at the next boot)\n",
                    folder.c_str());
    } else {
        std::fprintf(stderr, "tavrel-install: cannot remove %s: %s\n", folder.c_str(), ErrnoText(errno).c_str());
        return false;
    }
    return true;
}

}  // namespace

int InstallSystemFolder(const SystemRoot& system)
{
    if (RefusedUnlessRoot()) {
        return 1;
    }
    return WriteEntry(system.TmpfilesEntry()) && MakeFolder(system) ? 0 : 1;
}

int UninstallSystemFolder(const SystemRoot& system)
{
    if (RefusedUnlessRoot()) {
        return 1;
    }
    const bool entryGone = RemoveEntry(system.TmpfilesEntry());
    const bool folderGone = RemoveFolder(system.PortFolder());
    return entryGone && folderGone ? 0 : 1;
}

}  // namespace tavrel::tools
