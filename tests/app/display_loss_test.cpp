// When the display goes, or cannot be opened: the program ends as a closed
// window ends it (its settings saved, its virtual ports removed), and a
// display that cannot be opened is said so on stderr, leaving the device as
// it was.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "child_process.h"
#include "display/qt/display_loss.h"
#include "platform/boot.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "resources/resource_ids.h"
#include "support/pty_pair.h"
#include "support/temp_device.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// ---- In the test process

class ProgramWithoutAPerson : public ProgramTest {};

TEST_F(ProgramWithoutAPerson, ClosingUntilEndedAnswersAnOpenMessageBoxAndSavesTheSettings)
{
    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    AddOutputs(dialog, {5});
    person_.Type(dialog, IDC_INPUT_PORT, u"PORT4");
    PressWithoutWaiting(dialog, IDC_START_STOP);
    ASSERT_TRUE(person_.WaitForMessageBox().has_value());   // the program's thread waits in the box

    EXPECT_TRUE(platform::qt::CloseUntilEnded([this](std::chrono::milliseconds wait) { return program_->WaitEnded(wait); },
                                              30s));
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Split"), 1u << (5 + 1));
    EXPECT_TRUE(platform::input::TrayIcons().empty());
}

// ---- The program as a process

class QtDisplayProcess : public ::testing::Test {
protected:
    std::filesystem::path root() const { return folder_.path() / "device"; }
    std::filesystem::path Link(int number) const { return root() / "ports" / ("COM" + std::to_string(number)); }

    ChildProcess Run(const std::string& program, const std::vector<std::string>& arguments, const std::string& name,
                     const std::map<std::string, std::string>& display = {}) const
    {
        std::map<std::string, std::string> environment = DeviceEnvironment(root(), root() / "ports");
        for (const auto& [variable, value] : display) {
            environment[variable] = value;
        }
        return ChildProcess(program, arguments, environment, folder_.path() / name);
    }

    // The device as ./scripts/run sets it up: the pty as COM9, relayed from
    // the start to COM2 and COM3 with Autostart on. False when this host's
    // own serial ports take COM2 or COM3.
    bool PrepareDemoDevice() const
    {
        ChildProcess install = Run(TAVREL_INSTALL_PATH, {}, "install");
        EXPECT_EQ(install.WaitExit(60s), 0) << install.Errors();
        ChildProcess setup = Run(TAVREL_DEMO_SETUP_PATH, {gps_.slavePath(), "12"}, "setup");
        EXPECT_EQ(setup.WaitExit(60s), 0) << setup.Errors();
        platform::DeviceSettings settings;
        settings.deviceRoot = root();
        settings.portFolder = root() / "ports";
        settings.syncHostSerialPorts = false;
        platform::BootDevice(settings);
        const std::vector<DWORD> taken = BuiltInNumbers();
        platform::ShutdownDevice();
        return std::count(taken.begin(), taken.end(), 2u) == 0 && std::count(taken.begin(), taken.end(), 3u) == 0;
    }

    // Generous: a sanitizer build on a busy machine starts slowly.
    bool WaitForLinks() const
    {
        const auto deadline = std::chrono::steady_clock::now() + 90s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Exists(Link(2)) && Exists(Link(3))) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // As after a person closed the window: the settings saved (Autostart on
    // puts the shortcut into the Startup folder) and the virtual ports gone.
    void ExpectEndedAsIfClosed(ChildProcess& tavrel) const
    {
        EXPECT_EQ(tavrel.WaitExit(60s), 1) << tavrel.Errors();
        EXPECT_FALSE(Exists(Link(2)));
        EXPECT_FALSE(Exists(Link(3)));
        EXPECT_TRUE(Exists(root() / "fs" / "Windows" / "StartUp" / "Tavrel.lnk"));
        EXPECT_NE(ReadWholeFile(root() / "registry" / "user.reg").find("\"Split\""), std::string::npos);
    }

    TempFolder folder_;
    PtyPair gps_;
};

TEST_F(QtDisplayProcess, OnTheQtDisplayTheProgramEndsOnSigtermAsWhenItsWindowIsClosed)
{
    if (!PrepareDemoDevice()) {
        GTEST_SKIP() << "this host's own serial ports hold COM2 or COM3";
    }
    ChildProcess tavrel = Run(TAVREL_PROGRAM_PATH, {}, "tavrel", {{"TAVREL_DISPLAY", "qt"}, {"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(WaitForLinks()) << tavrel.Errors();
    tavrel.Signal(SIGTERM);
    ExpectEndedAsIfClosed(tavrel);
}

TEST_F(QtDisplayProcess, ADisplayThatCannotBeOpenedIsNamedAndQtInsistingEndsBeforeTheDevice)
{
    const std::map<std::string, std::string> noServer{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":4093"}};
    std::map<std::string, std::string> insisting = noServer;
    insisting["TAVREL_DISPLAY"] = "qt";
    ChildProcess refused = Run(TAVREL_PROGRAM_PATH, {}, "refused", insisting);
    EXPECT_EQ(refused.WaitExit(60s), 1);
    EXPECT_NE(refused.Errors().find("platform: TAVREL_DISPLAY=qt, but no Qt platform of 'xcb' could be opened"),
              std::string::npos)
        << refused.Errors();
    EXPECT_FALSE(Exists(root())) << "the device was touched";

    std::map<std::string, std::string> automatic = noServer;
    automatic["TAVREL_DISPLAY"] = "auto";
    ChildProcess headless = Run(TAVREL_PROGRAM_PATH, {}, "headless", automatic);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (headless.Errors().find("running headless") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    headless.Signal(SIGTERM);
    EXPECT_EQ(headless.WaitExit(60s), 1) << headless.Errors();
    EXPECT_NE(headless.Errors().find("; running headless\n"), std::string::npos) << headless.Errors();
}

// Xvfb, when it is installed: a display number of its own choosing.
class Xvfb {
public:
    explicit Xvfb(const std::filesystem::path& output)
    {
        for (const char* folder : {"/usr/bin", "/usr/local/bin"}) {
            if (Exists(std::filesystem::path(folder) / "Xvfb") && !server_) {
                server_.emplace(std::string(folder) + "/Xvfb",
                                std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                                std::map<std::string, std::string>{}, output);
            }
        }
    }

    // ":N" once the server is up; empty when there is none.
    std::string Display(std::chrono::seconds timeout = 60s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (server_ && std::chrono::steady_clock::now() < deadline) {
            const std::string said = server_->Output();
            if (said.find('\n') != std::string::npos) {
                return ":" + said.substr(0, said.find('\n'));
            }
            std::this_thread::sleep_for(20ms);
        }
        return {};
    }

    void End() { server_->Signal(SIGTERM); }
    bool Installed() const { return server_.has_value(); }

private:
    std::optional<ChildProcess> server_;
};

TEST_F(QtDisplayProcess, WhenTheXServerEndsTheProgramEndsAsIfItsWindowWereClosed)
{
    Xvfb server(folder_.path() / "xvfb");
    if (!server.Installed()) {
        GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps installs it)";
    }
    const std::string display = server.Display();
    ASSERT_FALSE(display.empty());
    if (!PrepareDemoDevice()) {
        GTEST_SKIP() << "this host's own serial ports hold COM2 or COM3";
    }
    ChildProcess tavrel = Run(TAVREL_PROGRAM_PATH, {}, "tavrel",
                              {{"TAVREL_DISPLAY", "qt"}, {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display}});
    ASSERT_TRUE(WaitForLinks()) << tavrel.Errors();
    server.End();
    ExpectEndedAsIfClosed(tavrel);
    EXPECT_NE(tavrel.Errors().find("platform: the display went away"), std::string::npos) << tavrel.Errors();
}

}  // namespace
