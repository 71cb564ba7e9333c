// The installer and the login session: install registers the start-up
// launcher for its device root in the session's autostart folder, in an
// entry that the session reads back to the same paths whatever they hold;
// uninstall takes back what install made and leaves the person's settings,
// other entries, and an entry made for another device.
#include <filesystem>

#include <gtest/gtest.h>

#include "child_process.h"
#include "desktop_entry_reader.h"
#include "device_processes.h"
#include "platform/boot.h"
#include "platform/registry.h"
#include "program_harness.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

class InstallTest : public ::testing::Test {
protected:
    std::filesystem::path EntryFile() const { return device_.configFolder() / "autostart" / "tavrel.desktop"; }
    std::filesystem::path DeviceFile(const std::string& path) const { return device_.root() / "fs" / path; }

    void Installer(const std::vector<std::string>& arguments, int expected) const
    {
        ChildProcess install = device_.Run(TAVREL_INSTALL_PATH, "install", arguments);
        ASSERT_EQ(install.WaitExit(60s), expected) << install.Output() << install.Errors();
    }

    // The launcher that the entry's Exec line runs, run to its end.
    std::string RunEntry() const
    {
        const auto exec = ExecArguments(DesktopEntryValue(ReadWholeFile(EntryFile()), "Exec").value_or(""));
        if (!exec || exec->empty()) {
            return "no Exec line";
        }
        ChildProcess session(ProgramOnPath(exec->front()), {exec->begin() + 1, exec->end()}, {},
                             device_.scratch() / "session");
        return session.WaitExit(60s) == 0 ? session.Output() : session.Errors();
    }

    // Awkward for every quoting rule of an Exec line.
    BootRunDevice device_{"device $HOME \"quoted\" 100% `x` \\back"};
};

TEST_F(InstallTest, TheEntryRunsTheLauncherBesideTavrelForThisDevice)
{
    Installer({}, 0);
    const std::string entry = ReadWholeFile(EntryFile());
    EXPECT_EQ(DesktopEntryValue(entry, "Type"), "Application");
    const auto exec = ExecArguments(DesktopEntryValue(entry, "Exec").value_or(""));
    ASSERT_TRUE(exec) << entry;
    const std::vector<std::string> expected{"env", "TAVREL_DEVICE_ROOT=" + device_.root().string(),
                                            "TAVREL_PORT_DIR=" + device_.ports().string(), TAVREL_STARTUP_PATH};
    EXPECT_EQ(*exec, expected) << entry;
    EXPECT_EQ(std::filesystem::path(TAVREL_STARTUP_PATH).parent_path(),
              std::filesystem::path(TAVREL_PROGRAM_PATH).parent_path());
    EXPECT_EQ(RunEntry(), "tavrel-startup: nothing to start\n");
}

TEST_F(InstallTest, UninstallTakesBackWhatInstallMadeAndKeepsThePersonsSettings)
{
    Installer({}, 0);
    device_.PrepareLastRun(1);
    std::filesystem::copy_file(DeviceFile("Windows/Start Menu/Programs/Tavrel.lnk"),
                               DeviceFile("Windows/StartUp/Tavrel.lnk"));
    WriteWholeFile(DeviceFile("Program Files/Tavrel/readme.txt"), "the person's own notes");
    WriteWholeFile(device_.configFolder() / "autostart" / "other.desktop", "[Desktop Entry]\n");

    Installer({"--uninstall"}, 0);
    EXPECT_FALSE(Exists(EntryFile()));
    EXPECT_TRUE(Exists(device_.configFolder() / "autostart" / "other.desktop"));
    EXPECT_FALSE(Exists(DeviceFile("Program Files/Tavrel/quorvel.dll")));
    EXPECT_TRUE(Exists(DeviceFile("Program Files/Tavrel/readme.txt")));
    EXPECT_FALSE(Exists(DeviceFile("Windows/Start Menu/Programs/Tavrel.lnk")));
    EXPECT_TRUE(Exists(DeviceFile("Windows/StartUp/Tavrel.lnk")));
    device_.Boot();
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_EQ(UserNumber(u"Autostart"), 1u);
    EXPECT_EQ(UserNumber(u"Split"), 72u);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Gps"));
    platform::ShutdownDevice();

    // Installed again, it is as it was.
    Installer({}, 0);
    EXPECT_TRUE(Exists(EntryFile()));
    device_.Boot();
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath"));
    platform::ShutdownDevice();
}

TEST_F(InstallTest, UninstallLeavesTheEntryOfAnotherDeviceAndTheRemovedRootIsNotMadeAgain)
{
    BootRunDevice other;
    std::map<std::string, std::string> otherEnvironment = other.Environment();
    otherEnvironment["XDG_CONFIG_HOME"] = device_.configFolder().string();
    Installer({}, 0);
    {
        ChildProcess install(TAVREL_INSTALL_PATH, {}, otherEnvironment, other.scratch() / "install");
        ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
    }
    const std::string otherEntry = ReadWholeFile(EntryFile());
    EXPECT_NE(otherEntry.find(other.root().string()), std::string::npos) << otherEntry;

    Installer({"--uninstall"}, 0);
    EXPECT_EQ(ReadWholeFile(EntryFile()), otherEntry);

    std::filesystem::remove_all(other.root());
    ChildProcess uninstall(TAVREL_INSTALL_PATH, {"--uninstall"}, otherEnvironment, other.scratch() / "uninstall");
    EXPECT_EQ(uninstall.WaitExit(60s), 0) << uninstall.Errors();
    EXPECT_NE(uninstall.Output().find("There is no device at " + other.root().string()), std::string::npos)
        << uninstall.Output();
    EXPECT_FALSE(Exists(EntryFile()));
    EXPECT_FALSE(Exists(other.root()));
}

TEST_F(InstallTest, WithoutAnAbsoluteConfigHomeTheEntryGoesUnderHome)
{
    for (const char* configHome : {"", "relative/config"}) {
        std::map<std::string, std::string> environment = device_.Environment();
        environment["XDG_CONFIG_HOME"] = configHome;
        environment["HOME"] = device_.scratch().string();
        std::filesystem::remove_all(device_.scratch() / ".config");
        ChildProcess install(TAVREL_INSTALL_PATH, {}, environment, device_.scratch() / "install");
        EXPECT_EQ(install.WaitExit(60s), 0) << install.Errors();
        EXPECT_TRUE(Exists(device_.scratch() / ".config" / "autostart" / "tavrel.desktop")) << configHome;
    }
}

TEST(InstallEntry, ARelativeDeviceRootIsRecordedAsTheAbsoluteFolderItNames)
{
    BootRunDevice device;
    std::map<std::string, std::string> environment = device.Environment();
    environment["TAVREL_DEVICE_ROOT"] = std::filesystem::relative(device.root()).string();
    ASSERT_TRUE(std::filesystem::path(environment["TAVREL_DEVICE_ROOT"]).is_relative());
    ChildProcess install(TAVREL_INSTALL_PATH, {}, environment, device.scratch() / "install");
    EXPECT_EQ(install.WaitExit(60s), 0) << install.Errors();
    const std::string entry = ReadWholeFile(device.configFolder() / "autostart" / "tavrel.desktop");
    EXPECT_EQ(DesktopEntryValue(entry, "X-Tavrel-DeviceRoot"), device.root().string()) << entry;
}

TEST(InstallEntry, ADeviceRootWithALineBreakGetsNoEntryAndAClearError)
{
    BootRunDevice device("two\nlines");
    ChildProcess install = device.Run(TAVREL_INSTALL_PATH, "install");
    EXPECT_EQ(install.WaitExit(60s), 1);
    EXPECT_NE(install.Errors().find("no start at login: the path " + device.root().string() +
                                    " holds a control character"),
              std::string::npos)
        << install.Errors();
    EXPECT_FALSE(Exists(device.configFolder() / "autostart" / "tavrel.desktop"));
    EXPECT_FALSE(Exists(device.configFolder() / "autostart" / "tavrel.desktop.new"));
}

}  // namespace
