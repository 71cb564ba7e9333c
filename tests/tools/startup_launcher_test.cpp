// The start-up launcher as the login session runs it, after a run of Tavrel
// that ended (SIGTERM stands in for Exit): with Autostart ticked it starts
// Tavrel, which relays unattended; with Autostart cleared it starts nothing.
// Files of the StartUp folder that are no shortcut to Tavrel are reported and
// left alone, and a device root that is gone is neither used nor made again.
#include <csignal>
#include <filesystem>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "desktop_entry_reader.h"
#include "device_processes.h"
#include "relay/relay_run.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"
#include "setup/shortcut_text.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::string kStarted = "tavrel-startup: started ";

class StartupLauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(BecomeSubreaper());
        ChildProcess install = device_.Run(TAVREL_INSTALL_PATH, "install");
        ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
    }

    std::filesystem::path StartupFolder() const { return device_.root() / "fs" / "Windows" / "StartUp"; }
    std::filesystem::path ProgramsShortcut() const
    {
        return device_.root() / "fs" / "Windows" / "Start Menu" / "Programs" / "Tavrel.lnk";
    }

    // A run of the program with the settings that PrepareLastRun left, ended
    // as the person's Exit ends it.
    void RunProgramToItsEnd() const
    {
        ChildProcess last = device_.Run(TAVREL_PROGRAM_PATH, "last-run");
        ASSERT_TRUE(device_.WaitForMainWindow()) << last.Errors();
        last.Signal(SIGTERM);
        ASSERT_EQ(last.WaitExit(60s), 1) << last.Errors();
    }

    // Runs the launcher to its end; its exit code, and its output in `launcher`.
    std::optional<int> Launch(std::string& output, std::string& errors) const
    {
        ChildProcess launcher = device_.Run(TAVREL_STARTUP_PATH, "launcher");
        const std::optional<int> code = launcher.WaitExit(60s);
        output = launcher.Output();
        errors = launcher.Errors();
        return code;
    }

    // The program that the launcher reports starting, adopted by this process.
    std::optional<ChildProcess> StartedProgram(const std::string& output) const
    {
        const std::string expected = kStarted + std::filesystem::path(TAVREL_PROGRAM_PATH).string() + " (pid ";
        const std::size_t at = output.find(expected);
        if (at == std::string::npos || output.find(kStarted, at + 1) != std::string::npos) {
            return std::nullopt;
        }
        const pid_t pid = std::stoi(output.substr(at + expected.size()));
        return std::optional<ChildProcess>(std::in_place, pid, device_.scratch() / "launcher");
    }

    BootRunDevice device_;
};

TEST_F(StartupLauncherTest, AutostartTickedAtTheEndStartsTavrelWhichRelaysUnattended)
{
    device_.PrepareLastRun(1);
    RunProgramToItsEnd();
    ASSERT_TRUE(Exists(StartupFolder() / "Tavrel.lnk"));

    std::string output, errors;
    EXPECT_EQ(Launch(output, errors), 0) << errors;
    std::optional<ChildProcess> tavrel = StartedProgram(output);
    ASSERT_TRUE(tavrel) << output << errors;

    ASSERT_TRUE(WaitForLinks({device_.PortLink(2), device_.PortLink(5)})) << tavrel->Errors();
    std::vector<int> readers;
    for (int n : {2, 5}) {
        readers.push_back(OpenRaw(device_.PortLink(n).string()));
        ASSERT_GE(readers.back(), 0);
    }
    ASSERT_TRUE(WaitUntilRelaying(device_.gps(), readers)) << tavrel->Errors();
    const std::vector<unsigned char> all = AllByteValues();
    device_.gps().Write(all);
    for (int reader : readers) {
        EXPECT_EQ(ReadFor(reader, all.size()), all);
        ::close(reader);
    }
    tavrel->Signal(SIGTERM);
    EXPECT_EQ(tavrel->WaitExit(60s), 1) << tavrel->Errors();
}

TEST_F(StartupLauncherTest, AutostartClearedAtTheEndStartsNothing)
{
    device_.PrepareLastRun(0);
    // An earlier run with Autostart ticked left its shortcut; this run takes it away.
    std::filesystem::copy_file(ProgramsShortcut(), StartupFolder() / "Tavrel.lnk");
    RunProgramToItsEnd();
    ASSERT_FALSE(Exists(StartupFolder() / "Tavrel.lnk"));

    std::string output, errors;
    EXPECT_EQ(Launch(output, errors), 0) << errors;
    EXPECT_EQ(output.find(kStarted), std::string::npos) << output;
    EXPECT_NE(output.find("nothing to start"), std::string::npos) << output;
    EXPECT_TRUE(NoChildrenLeft());
    EXPECT_FALSE(Exists(device_.PortLink(2)));
}

TEST_F(StartupLauncherTest, FilesThatAreNoShortcutToTavrelAreReportedSkippedAndKept)
{
    const std::map<std::string, std::string> files{
        {"Notes.txt", "meeting at ten\n"},
        {"Broken.lnk", "13#\"\\Tavrel.exe"},
        {"Calc.lnk", tavrel::setup::ShortcutText(u"\\Windows\\calc.exe")},
        {"Empty.lnk", ""},
        {"Tavrel.lnk", ReadWholeFile(ProgramsShortcut())},
        {"Tavrel again.lnk", tavrel::setup::ShortcutText(u"\\PROGRAM FILES\\tavrel\\TAVREL.EXE")},
    };
    for (const auto& [name, text] : files) {
        WriteWholeFile(StartupFolder() / name, text);
    }

    std::string output, errors;
    EXPECT_EQ(Launch(output, errors), 0) << errors;
    std::optional<ChildProcess> tavrel = StartedProgram(output);
    EXPECT_TRUE(tavrel) << output << errors;
    for (const char* line : {"\\Windows\\StartUp\\Notes.txt is not a shortcut: ",
                             "\\Windows\\StartUp\\Broken.lnk is not a shortcut: it gives its target 13 characters but the "
                             "target has 12; skipped",
                             "\\Windows\\StartUp\\Empty.lnk is not a shortcut: ",
                             "\\Windows\\StartUp\\Calc.lnk starts \\Windows\\calc.exe, which is not a program of this "
                             "host; skipped",
                             " starts Tavrel again; skipped"}) {
        EXPECT_NE(errors.find(line), std::string::npos) << line << "\n" << errors;
    }
    for (const auto& [name, text] : files) {
        EXPECT_EQ(ReadWholeFile(StartupFolder() / name), text) << name;
    }
    if (tavrel) {
        EXPECT_TRUE(device_.WaitForMainWindow());   // a SIGTERM before it is up would kill it
        tavrel->Signal(SIGTERM);
        EXPECT_EQ(tavrel->WaitExit(60s), 1) << tavrel->Errors();
    }
}

TEST_F(StartupLauncherTest, TheLoginEntryOfARemovedDeviceRootStartsNothingAndMakesNothing)
{
    const std::string entry = ReadWholeFile(device_.configFolder() / "autostart" / "tavrel.desktop");
    const auto exec = ExecArguments(DesktopEntryValue(entry, "Exec").value_or(""));
    ASSERT_TRUE(exec && !exec->empty()) << entry;
    std::filesystem::remove_all(device_.root());

    ChildProcess launcher(ProgramOnPath(exec->front()), {exec->begin() + 1, exec->end()}, {},
                          device_.scratch() / "login");
    EXPECT_EQ(launcher.WaitExit(60s), 1);
    EXPECT_NE(launcher.Errors().find("there is no device at " + device_.root().string() + " (removed?); nothing started"),
              std::string::npos)
        << launcher.Errors();
    EXPECT_FALSE(Exists(device_.root()));
    EXPECT_EQ(ReadWholeFile(device_.configFolder() / "autostart" / "tavrel.desktop"), entry);
    EXPECT_TRUE(NoChildrenLeft());
}

}  // namespace
