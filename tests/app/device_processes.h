// The program as processes on a device that nothing but the installer has
// touched: the real tavrel, its installer and its start-up launcher started
// as a shell, a boot script or a login session starts them, a simulated GPS
// receiver on a pseudo-terminal as the input, and the device looked at from
// the test process before and after the runs. The installer's login entry
// goes to a folder of the test, never to the person's own session.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "platform/types.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {

// The input and the outputs that PrepareLastRun saves ("Port" 1, "Split" 72).
inline constexpr DWORD kSavedInput = 1;
inline const std::vector<int> kSavedOutputs = {2, 5};
inline constexpr DWORD kSavedSplit = 72;

// What a run adds to its environment to have the program's debug lines on
// its standard error, where a test reads them.
inline const std::map<std::string, std::string> kDebugLines = {{"TAVREL_DEBUG", "1"}};

// Waits until `condition` holds, looking again every 20 ms.
template <typename Condition>
bool WaitForCondition(Condition condition, std::chrono::seconds timeout = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Whether the path exists; a link counts even when it leads nowhere.
bool Exists(const std::filesystem::path& path);
// Waits until every link exists.
bool WaitForLinks(const std::vector<std::filesystem::path>& links,
                  std::chrono::seconds timeout = std::chrono::seconds(30));
// Waits until the process's standard error holds `text`.
bool WaitForError(const ChildProcess& process, const std::string& text,
                  std::chrono::seconds timeout = std::chrono::seconds(30));

class BootRunDevice {
public:
    // The device root is a folder of that name in a fresh temporary folder.
    explicit BootRunDevice(std::string rootName = "device") : rootName_(std::move(rootName)) {}

    std::filesystem::path root() const { return folder_.path() / rootName_; }
    std::filesystem::path ports() const { return root() / "ports"; }
    std::filesystem::path PortLink(int number) const { return ports() / ("COM" + std::to_string(number)); }
    std::vector<std::filesystem::path> SavedOutputLinks() const;
    std::filesystem::path UserHive() const { return root() / "registry" / "user.reg"; }
    std::filesystem::path SystemHive() const { return root() / "registry" / "system.reg"; }
    std::filesystem::path StartupShortcut() const;
    // XDG_CONFIG_HOME of the programs run here.
    std::filesystem::path configFolder() const { return folder_.path() / "config"; }
    const std::filesystem::path& scratch() const { return folder_.path(); }
    const PtyPair& gps() const { return gps_; }

    // Runs the installer on the device.
    void Install() const;
    // Boots the device in this process (host ports not looked at); the test
    // fails when it does not come up whole.
    void Boot() const;
    // Maps `inputDevice` (by default the simulated receiver) as the built-in
    // port kSavedInput and saves the settings of a run that chose `outputs`
    // (by default 2 and 5) with the Autostart flag `autostart`. The host's own
    // serial ports, listed as the program's boot lists them, are moved off
    // those numbers (above 9) as a person would edit their keys, so any host
    // will do.
    void PrepareLastRun(DWORD autostart, const std::optional<std::string>& inputDevice = std::nullopt,
                        const std::vector<int>& outputs = kSavedOutputs);
    // Puts the Programs shortcut into the Startup folder, as an exit with
    // Autostart ticked leaves it.
    void PlaceStartupShortcut() const;
    // What every way of ending a run prepared by PrepareLastRun with Autostart
    // on leaves, as closing the window does: exit code 1, the ports gone, the
    // outputs and Autostart saved, the Startup shortcut in place.
    void ExpectLastRunEndedAsClosingTheWindow(ChildProcess& program) const;

    std::map<std::string, std::string> Environment() const;
    // `name` names the files that keep its output; `more` adds to (or
    // replaces in) the environment of the device.
    ChildProcess Run(const std::string& program, const std::string& name,
                     const std::vector<std::string>& arguments = {}, const StartBarrier* barrier = nullptr,
                     const std::map<std::string, std::string>& more = {}) const;
    // Waits until a process of the device has created the program's main
    // window. It exists before its initialisation runs, and a close posted
    // to it from then on is handled once that initialisation is over.
    bool WaitForMainWindow(std::chrono::seconds timeout = std::chrono::seconds(30)) const;
    // Waits until a process of the device shows a top-level window with that
    // very title (a message box's is its caption).
    bool WaitForWindow(const std::u16string& title, std::chrono::seconds timeout = std::chrono::seconds(30)) const;
    // A per-user number as saved, read by booting the device.
    std::optional<DWORD> SavedNumber(const std::u16string& name) const;
    // Saves a per-user number, as a run that ended with it would.
    void SaveNumber(const std::u16string& name, DWORD value) const;
    // Saves a per-user text, as tavrel-config would.
    void SaveText(const std::u16string& name, const std::u16string& text) const;

private:
    std::string rootName_;
    TempFolder folder_;
    PtyPair gps_;
};

class DeviceProcessTest : public ::testing::Test, public BootRunDevice {
protected:
    using BootRunDevice::Run;   // not the test's own Run
};

// The device installed and left as an exit with Autostart ticked and outputs
// 2 and 5 leaves it, the simulated receiver being the input.
class AutostartDeviceTest : public DeviceProcessTest {
protected:
    void SetUp() override;
};

}  // namespace tavrel::testing
