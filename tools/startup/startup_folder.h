// What the device's "\Windows\StartUp" folder asks to run at boot, read
// through the platform's public calls on a booted device: every file of the
// folder in name order, each a shortcut naming a program of the device, or
// a line saying why it is none.
#pragma once

#include <string>
#include <vector>

namespace tavrel::tools {

struct StartupShortcut {
    std::u16string file;     // device path of the shortcut
    std::u16string target;   // device path of the program it starts
};

struct StartupFolder {
    std::vector<StartupShortcut> shortcuts;
    std::vector<std::string> notShortcuts;   // one line each: the file and why
};

StartupFolder ReadStartupFolder();

// The device path of Tavrel.exe: "InstallPath" under
// HKEY_LOCAL_MACHINE\Software\Brenmor\Tavrel with "\Tavrel.exe" appended.
// Without an install path that is the root folder, where the program then
// looks for its driver too.
std::u16string InstalledProgramPath();

}  // namespace tavrel::tools
