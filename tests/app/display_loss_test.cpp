// The program as a process on the qt display, which it loads as a module of
// its own: a signal, even while a box that nobody answers is up, and the
// display going away end it as a closed window ends it (its settings saved,
// its virtual ports removed); a display that cannot be opened, or a module
// that cannot be loaded, is said so on stderr, leaving the device as it was.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "platform/boot.h"
#include "platform/user_input.h"
#include "program_harness.h"
#include "testkit/proc_stats.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"
#include "setup/builtin_port_keys.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

class QtDisplayProcess : public DeviceProcessTest {
protected:
    ChildProcess RunTavrel(const std::string& name, const std::map<std::string, std::string>& display) const
    {
        return Run(TAVREL_PROGRAM_PATH, name, {}, nullptr, display);
    }

    // The device as ./scripts/run sets it up: the pty as COM9, relayed from
    // the start to COM2 and COM3 with Autostart on. The host's own serial
    // ports, which the set-up listed, are moved off those numbers as a person
    // would edit their keys.
    void PrepareDemoDevice() const
    {
        Install();
        ChildProcess setup = Run(TAVREL_DEMO_SETUP_PATH, "setup", {gps().slavePath(), "12"});
        EXPECT_EQ(setup.WaitExit(60s), 0) << setup.Errors();
        Boot();
        EXPECT_TRUE(tavrel::setup::MoveBuiltInPortsOff({2, 3, 9}, gps().slavePath()));
        platform::ShutdownDevice();
    }

    std::vector<std::filesystem::path> DemoLinks() const { return {PortLink(2), PortLink(3)}; }

    // As after a person closed the window: the settings saved (Autostart on
    // puts the shortcut into the Startup folder) and the virtual ports gone.
    void ExpectEndedAsIfClosed(ChildProcess& tavrel) const
    {
        EXPECT_EQ(tavrel.WaitExit(60s), 1) << tavrel.Errors();
        for (const auto& link : DemoLinks()) {
            EXPECT_FALSE(Exists(link)) << link;
        }
        EXPECT_TRUE(Exists(StartupShortcut()));
        EXPECT_NE(ReadWholeFile(UserHive()).find("\"Split\""), std::string::npos);
    }
};

TEST_F(QtDisplayProcess, OnTheQtDisplayTheProgramEndsOnSigtermAsWhenItsWindowIsClosed)
{
    PrepareDemoDevice();
    ChildProcess tavrel = RunTavrel("tavrel", {{"TAVREL_DISPLAY", "qt"}, {"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(WaitForLinks(DemoLinks(), 90s)) << tavrel.Errors();  // generous: sanitizer builds start slowly
    // The build's module, and Qt with it.
    const std::string maps = ReadProcText("/proc/" + std::to_string(tavrel.pid()) + "/maps");
    EXPECT_NE(maps.find(std::filesystem::path(TAVREL_QT_MODULE_PATH).string()), std::string::npos) << maps;
    EXPECT_NE(maps.find("libQt6Widgets"), std::string::npos) << maps;
    tavrel.Signal(SIGTERM);
    ExpectEndedAsIfClosed(tavrel);
}

// On an 800x600 screen (Qt's offscreen one, configured so) the window would
// not fit at scale 8: it is drawn at 1, and one line says so.
TEST_F(QtDisplayProcess, AScaleTooLargeForTheScreenIsBroughtDownWithOneLineSayingSo)
{
    PrepareDemoDevice();
    const std::filesystem::path screens = scratch() / "screens.json";
    WriteWholeFile(screens, R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 800, "height": 600,)"
                            R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    ChildProcess tavrel = RunTavrel("tavrel", {{"TAVREL_DISPLAY", "qt"},
                                               {"QT_QPA_PLATFORM", "offscreen:configfile=" + screens.string()},
                                               {"TAVREL_SCREEN_SCALE", "8"}});
    ASSERT_TRUE(WaitForLinks(DemoLinks(), 90s)) << tavrel.Errors();
    tavrel.Signal(SIGTERM);
    ExpectEndedAsIfClosed(tavrel);
    const std::string said = tavrel.Errors();
    const std::string line = "platform: the device's screen at scale 8 (1920x2976 pixels with its bars) would not "
                             "fit the host screen's free 800x600; it is drawn at scale 1\n";
    EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find(line), said.rfind(line)) << said;
}

// An unattended start on the qt display that shows a box nobody answers:
// the receiver is not plugged in (the worker's box, while the window waits for
// the start), or the saved input port has a number that names no port (a box
// of the window's own thread).
enum class StartBox { InputUnplugged, InputWithoutAName };

class BoxAtTheStartProcess : public QtDisplayProcess {
protected:
    void PrepareAStartWith(StartBox box)
    {
        Install();
        if (box == StartBox::InputUnplugged) {
            PrepareLastRun(1, (scratch() / "unplugged").string());
        } else {
            PrepareLastRun(1);
            SaveNumber(u"Port", 1234567);   // "COM1234567:" does not fit the name's ten places
        }
    }
};

class SignalWithABoxUp : public BoxAtTheStartProcess, public ::testing::WithParamInterface<std::tuple<int, StartBox>> {};

TEST_P(SignalWithABoxUp, EndsTheProgramAsClosingItsWindowDoes)
{
    PrepareAStartWith(std::get<StartBox>(GetParam()));
    ChildProcess tavrel = RunTavrel("tavrel", {{"TAVREL_DISPLAY", "qt"}, {"QT_QPA_PLATFORM", "offscreen"}});
    // The box's caption; generous: sanitizer builds start slowly.
    ASSERT_TRUE(WaitForWindow(u"Tavrel", 90s)) << tavrel.Errors();

    tavrel.Signal(std::get<int>(GetParam()));
    ExpectLastRunEndedAsClosingTheWindow(tavrel);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalWithABoxUp,
                         ::testing::Combine(::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT),
                                            ::testing::Values(StartBox::InputUnplugged, StartBox::InputWithoutAName)),
                         [](const auto& named) {
                             return std::string(sigabbrev_np(std::get<int>(named.param))) +
                                    (std::get<StartBox>(named.param) == StartBox::InputUnplugged ? "InputUnplugged"
                                                                                                 : "InputWithoutAName");
                         });

TEST_F(QtDisplayProcess, ADisplayThatCannotBeOpenedIsNamedAndQtInsistingEndsBeforeTheDevice)
{
    const std::map<std::string, std::string> noServer{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":4093"}};
    std::map<std::string, std::string> insisting = noServer;
    insisting["TAVREL_DISPLAY"] = "qt";
    ChildProcess refused = RunTavrel("refused", insisting);
    EXPECT_EQ(refused.WaitExit(60s), 1);
    EXPECT_NE(refused.Errors().find("platform: TAVREL_DISPLAY=qt, but no Qt platform of 'xcb' could be opened"),
              std::string::npos)
        << refused.Errors();
    EXPECT_FALSE(Exists(root())) << "the device was touched";

    std::map<std::string, std::string> automatic = noServer;
    automatic["TAVREL_DISPLAY"] = "auto";
    ChildProcess headless = RunTavrel("headless", automatic);
    EXPECT_TRUE(WaitForError(headless, "running headless"));
    // A signal while the device still boots would end it before the program starts.
    ASSERT_TRUE(WaitForMainWindow()) << headless.Errors();
    headless.Signal(SIGTERM);
    EXPECT_EQ(headless.WaitExit(60s), 1) << headless.Errors();
    EXPECT_NE(headless.Errors().find("; running headless\n"), std::string::npos) << headless.Errors();
}

// A copy of the program beside a module file that is none: the module beside
// the program is the one loaded, and the loader's words say why it cannot be.
// Insisting on qt ends before the device; auto runs headless with one line.
TEST_F(QtDisplayProcess, AModuleThatCannotBeLoadedIsNamedWithTheLoadersWords)
{
    const std::filesystem::path bin = scratch() / "bin";
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(TAVREL_PROGRAM_PATH, bin / "tavrel");
    WriteWholeFile(bin / "display-qt.so", "not a module\n");
    const std::map<std::string, std::string> named{{"DISPLAY", ":4093"}, {"QT_QPA_PLATFORM", "offscreen"}};
    const std::string why = "the qt display's module could not be loaded (" + (bin / "display-qt.so").string() + ": ";

    std::map<std::string, std::string> insisting = named;
    insisting["TAVREL_DISPLAY"] = "qt";
    ChildProcess refused = Run((bin / "tavrel").string(), "refused", {}, nullptr, insisting);
    EXPECT_EQ(refused.WaitExit(60s), 1);
    EXPECT_NE(refused.Errors().find("platform: TAVREL_DISPLAY=qt, but " + why), std::string::npos)
        << refused.Errors();
    EXPECT_FALSE(Exists(root())) << "the device was touched";

    std::map<std::string, std::string> automatic = named;
    automatic["TAVREL_DISPLAY"] = "auto";
    ChildProcess headless = Run((bin / "tavrel").string(), "headless", {}, nullptr, automatic);
    ASSERT_TRUE(WaitForMainWindow(90s)) << headless.Errors();
    headless.Signal(SIGTERM);
    EXPECT_EQ(headless.WaitExit(60s), 1) << headless.Errors();
    const std::string said = headless.Errors();
    EXPECT_NE(said.find("platform: " + why), std::string::npos) << said;
    EXPECT_NE(said.find("; running headless\n"), std::string::npos) << said;
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
    Xvfb server(scratch() / "xvfb");
    if (!server.Installed()) {
        GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps installs it)";
    }
    const std::string display = server.Display();
    ASSERT_FALSE(display.empty());
    PrepareDemoDevice();
    ChildProcess tavrel = RunTavrel("tavrel",
                              {{"TAVREL_DISPLAY", "qt"}, {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display}});
    ASSERT_TRUE(WaitForLinks(DemoLinks(), 90s)) << tavrel.Errors();  // generous: sanitizer builds start slowly
    server.End();
    ExpectEndedAsIfClosed(tavrel);
    EXPECT_NE(tavrel.Errors().find("platform: the display went away"), std::string::npos) << tavrel.Errors();
}

TEST_F(BoxAtTheStartProcess, WhenTheXServerEndsWhileABoxIsUpTheProgramEndsAsIfItsWindowWereClosed)
{
    Xvfb server(scratch() / "xvfb");
    if (!server.Installed()) {
        GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps installs it)";
    }
    const std::string display = server.Display();
    ASSERT_FALSE(display.empty());
    PrepareAStartWith(StartBox::InputUnplugged);
    ChildProcess tavrel = RunTavrel("tavrel", {{"TAVREL_DISPLAY", "qt"}, {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display}});
    ASSERT_TRUE(WaitForWindow(u"Tavrel", 90s)) << tavrel.Errors();
    server.End();
    ExpectLastRunEndedAsClosingTheWindow(tavrel);
    EXPECT_NE(tavrel.Errors().find("platform: the display went away"), std::string::npos) << tavrel.Errors();
}

}  // namespace
