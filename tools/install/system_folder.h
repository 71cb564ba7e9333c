// The machine's folder for the virtual ports of all its users, /run/tavrel:
// root's, mode 1777 with the sticky bit, so that each person's Tavrel makes a
// folder of its own there, which services of other users (Debian's gpsd) can
// reach and nobody else can move or replace. /run is emptied at every boot,
// so the folder comes from a tmpfiles.d entry that systemd-tmpfiles applies
// at boot: `tavrel-install --system` writes the entry and makes the folder
// now; `tavrel-install --uninstall --system` takes both away again.
#pragma once

#include <filesystem>

namespace tavrel::tools {

// The folder that stands for / (the tests put a temporary one there).
struct SystemRoot {
    std::filesystem::path root = "/";

    std::filesystem::path TmpfilesEntry() const { return root / "etc/tmpfiles.d/tavrel.conf"; }
    std::filesystem::path PortFolder() const { return root / "run/tavrel"; }
};

// What the entry holds.
extern const char* const kTmpfilesEntryText;

// Each prints what it did, or why not to stderr, and gives the exit code.
// Both need root: anyone else gets an error and nothing changes.
int InstallSystemFolder(const SystemRoot& system);
int UninstallSystemFolder(const SystemRoot& system);

}  // namespace tavrel::tools
