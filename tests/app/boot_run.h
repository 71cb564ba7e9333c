// A device that only the installer has touched, as the programs find it at
// boot, and the programs run on it as processes: the installer, the program,
// the start-up launcher. The settings are those that a person's last run
// left: a pseudo-terminal as the input, outputs 2 and 5, Autostart ticked or
// cleared. The installer's login entry goes to a folder of the test, never
// to the person's own session.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/types.h"
#include "support/pty_pair.h"
#include "support/temp_device.h"

namespace tavrel::testing {

class BootRunDevice {
public:
    // The device root is a folder of that name in a fresh temporary folder.
    explicit BootRunDevice(std::string rootName = "device") : rootName_(std::move(rootName)) {}

    std::filesystem::path root() const { return folder_.path() / rootName_; }
    std::filesystem::path ports() const { return root() / "ports"; }
    std::filesystem::path PortLink(int number) const { return ports() / ("COM" + std::to_string(number)); }
    // XDG_CONFIG_HOME of the programs run here.
    std::filesystem::path configFolder() const { return folder_.path() / "config"; }
    const std::filesystem::path& scratch() const { return folder_.path(); }
    const PtyPair& gps() const { return gps_; }

    // Boots the device in this process (host ports not looked at).
    void Boot() const;
    // Maps the pty as a built-in port on a number that neither the host's
    // ports nor the outputs use, and saves the settings of a run that chose
    // outputs 2 and 5 with the Autostart flag `autostart`. Nothing when the
    // host's own ports hold 2 or 5.
    std::optional<DWORD> PrepareLastRun(DWORD autostart);

    // Boots the device here until a program on it shows a window titled
    // "Tavrel..." (the program is up and ends as a person's Exit ends it
    // when told to); false when none came in time.
    bool WaitForProgramWindow(std::chrono::seconds timeout = std::chrono::seconds(30)) const;

    std::map<std::string, std::string> Environment() const;
    // `name` names the files that keep its output.
    ChildProcess Run(const std::string& program, const std::string& name,
                     const std::vector<std::string>& arguments = {}) const;

private:
    std::string rootName_;
    TempFolder folder_;
    PtyPair gps_;
};

bool PathExists(const std::filesystem::path& path);
bool WaitForLinks(const std::vector<std::filesystem::path>& links,
                  std::chrono::seconds timeout = std::chrono::seconds(30));

}  // namespace tavrel::testing
