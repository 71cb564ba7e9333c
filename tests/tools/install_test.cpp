// The installer and the login session: install registers the start-up
// launcher for its device root in the session's autostart folder, in an
// entry that the session reads back to the same paths whatever they hold,
// and that is on disk before and after it takes its name; uninstall takes
// back what install made and leaves the person's settings, other entries, an
// entry made for another device and a module that install did not put there,
// and says what it could not remove.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <regex>

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
namespace fs = std::filesystem;

// The text as a regular expression that matches exactly it.
std::string Quoted(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// Finds system calls in strace's output one after the other.
class TraceReader {
public:
    explicit TraceReader(std::string text) : text_(std::move(text)) {}

    // The first match of `pattern` after the previous match; nothing when none.
    std::optional<std::smatch> Next(const std::string& pattern)
    {
        skipped_.clear();
        std::smatch found;
        if (!std::regex_search(text_.cbegin() + static_cast<std::ptrdiff_t>(position_), text_.cend(), found,
                               std::regex(pattern))) {
            return std::nullopt;
        }
        skipped_ = text_.substr(position_, static_cast<std::size_t>(found.position(0)));
        position_ += static_cast<std::size_t>(found.position(0) + found.length(0));
        return found;
    }
    // What lay between the previous match and the last one.
    const std::string& skipped() const { return skipped_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::size_t position_ = 0;
    std::string skipped_;
};

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

    fs::path Module() const { return DeviceFile("Program Files/Tavrel/quorvel.dll"); }

    // Runs uninstall, for whom `folder` is read-only: this user, or, as root
    // (who writes anywhere), another user who owns the device and its login
    // entries. Its exit code; what it said is in `errors`.
    std::optional<int> UninstallWithReadOnly(const fs::path& folder)
    {
        std::unique_ptr<ChildProcess> uninstall;
        if (::geteuid() == 0) {
            const OtherUser nobody;
            EXPECT_EQ(::chmod(device_.scratch().c_str(), 0755), 0);
            GiveTree(device_.root(), nobody);
            GiveTree(device_.configFolder(), nobody);
            EXPECT_EQ(::chmod(folder.c_str(), 0555), 0);
            uninstall = std::make_unique<ChildProcess>(
                kSetpriv, SetprivArguments(nobody, TAVREL_INSTALL_PATH, {"--uninstall"}), device_.Environment(),
                device_.scratch() / "uninstall");
        } else {
            EXPECT_EQ(::chmod(folder.c_str(), 0555), 0);
            uninstall = std::make_unique<ChildProcess>(TAVREL_INSTALL_PATH, std::vector<std::string>{"--uninstall"},
                                                       device_.Environment(), device_.scratch() / "uninstall");
        }
        const std::optional<int> code = uninstall->WaitExit(60s);
        errors = uninstall->Errors();
        EXPECT_EQ(::chmod(folder.c_str(), 0755), 0);
        return code;
    }

    static void GiveTree(const fs::path& top, const OtherUser& user)
    {
        EXPECT_EQ(::lchown(top.c_str(), user.uid, user.gid), 0) << top;
        for (const auto& entry : fs::recursive_directory_iterator(top)) {
            EXPECT_EQ(::lchown(entry.path().c_str(), user.uid, user.gid), 0) << entry.path();
        }
    }

    // What uninstall takes away, also when another removal failed.
    void ExpectTheRestTakenAway() const
    {
        EXPECT_FALSE(Exists(EntryFile()));
        EXPECT_FALSE(Exists(DeviceFile("Windows/Start Menu/Programs/Tavrel.lnk")));
        device_.Boot();
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath"));
        platform::ShutdownDevice();
    }

    // Awkward for every quoting rule of an Exec line.
    BootRunDevice device_{"device $HOME \"quoted\" 100% `x` \\back"};
    std::string errors;
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
    EXPECT_FALSE(Exists(Module()));
    EXPECT_FALSE(Exists(DeviceFile("Program Files/Tavrel/quorvel.dll.installed")));
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

TEST_F(InstallTest, AFailedRemovalIsReportedWithItsReasonAndTheOthersStillHappen)
{
    Installer({}, 0);
    EXPECT_EQ(UninstallWithReadOnly(Module().parent_path()), 1);
    EXPECT_NE(errors.find("tavrel-install: cannot remove " + Module().string() + ": Permission denied"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Tavrel is not wholly uninstalled from the device at " + device_.root().string()),
              std::string::npos)
        << errors;
    EXPECT_TRUE(Exists(Module()));
    EXPECT_TRUE(Exists(DeviceFile("Program Files/Tavrel/quorvel.dll.installed")))
        << "the record goes with its module, not before it";
    ExpectTheRestTakenAway();

    // Once the fault is mended, the module goes too.
    Installer({"--uninstall"}, 0);
    EXPECT_FALSE(Exists(Module()));
    EXPECT_FALSE(Exists(Module().parent_path()));
}

TEST_F(InstallTest, AModuleThatInstallDidNotPutThereIsLeftWithALineSayingSo)
{
    Installer({}, 0);
    WriteWholeFile(Module(), "a driver module of someone else's");
    ChildProcess uninstall = device_.Run(TAVREL_INSTALL_PATH, "uninstall", {"--uninstall"});
    EXPECT_EQ(uninstall.WaitExit(60s), 1);
    EXPECT_NE(uninstall.Errors().find(Module().string() + " is not the module that tavrel-install put there; left "
                                                           "in place"),
              std::string::npos)
        << uninstall.Errors();
    EXPECT_EQ(ReadWholeFile(Module()), "a driver module of someone else's");
    ExpectTheRestTakenAway();
}

// An install made before uninstall could tell its module kept no record of it:
// the module this installer ships is still ours, any other is not.
TEST_F(InstallTest, WithoutARecordOnlyTheModuleThatInstallShipsIsTakenAway)
{
    const fs::path record = DeviceFile("Program Files/Tavrel/quorvel.dll.installed");
    Installer({}, 0);
    fs::remove(record);
    Installer({"--uninstall"}, 0);
    EXPECT_FALSE(Exists(Module()));

    Installer({}, 0);
    fs::remove(record);
    WriteWholeFile(Module(), "a driver module of someone else's");
    ChildProcess uninstall = device_.Run(TAVREL_INSTALL_PATH, "uninstall", {"--uninstall"});
    EXPECT_EQ(uninstall.WaitExit(60s), 1) << uninstall.Errors();
    EXPECT_EQ(ReadWholeFile(Module()), "a driver module of someone else's");
}

// The entry is synced under its temporary name before the rename gives it its
// own, and its folder after, so that neither a crash nor a power loss leaves
// an empty or half entry, or none, once install has said it made one. Seen
// from outside, in the system calls that strace reports.
TEST_F(InstallTest, TheLoginEntryIsOnDiskBeforeItTakesItsNameAndItsNameAfter)
{
    if (!Exists("/usr/bin/strace")) {
        GTEST_SKIP() << "strace is missing (scripts/install-deps installs it)";
    }
    const fs::path trace = device_.scratch() / "install.trace";
    std::map<std::string, std::string> environment = device_.Environment();
    environment["ASAN_OPTIONS"] = "detect_leaks=0";   // LeakSanitizer cannot work under ptrace
    ChildProcess install("/usr/bin/strace",
                         {"-f", "-qq", "-s", "4096", "-o", trace.string(), "-e",
                          "trace=open,openat,fsync,rename,renameat,renameat2", TAVREL_INSTALL_PATH},
                         environment, device_.scratch() / "install");
    const std::optional<int> code = install.WaitExit(60s);
    if (code != 0 && install.Errors().find("Operation not permitted") != std::string::npos) {
        GTEST_SKIP() << "this host does not let strace trace: " << install.Errors();
    }
    ASSERT_EQ(code, 0) << install.Errors();
    TraceReader calls(ReadWholeFile(trace));
    const std::string folder = Quoted(EntryFile().parent_path().string());
    const std::optional<std::smatch> created =
        calls.Next("openat\\(AT_FDCWD, \"(" + folder + "/[^\"]+)\", [^)]*O_CREAT[^)]*\\) += (\\d+)");
    ASSERT_TRUE(created) << calls.text();
    const std::string temporary = (*created)[1].str();
    const std::string written = (*created)[2].str();
    ASSERT_NE(temporary, EntryFile().string()) << "the entry is never written under its own name";
    ASSERT_TRUE(calls.Next("rename\\(\"" + Quoted(temporary) + "\", \"" + Quoted(EntryFile().string()) + "\"\\) += 0"))
        << calls.text();
    EXPECT_TRUE(std::regex_search(calls.skipped(), std::regex("fsync\\(" + written + "\\) += 0")))
        << "the temporary entry is synced before it takes the entry's name:\n" << calls.skipped();
    const std::optional<std::smatch> opened =
        calls.Next("openat\\(AT_FDCWD, \"" + folder + "\", [^)]*O_DIRECTORY[^)]*\\) += (\\d+)");
    ASSERT_TRUE(opened) << "its folder is opened after the rename:\n" << calls.text();
    EXPECT_TRUE(calls.Next("fsync\\(" + (*opened)[1].str() + "\\) += 0")) << "and synced";
    EXPECT_EQ(DesktopEntryValue(ReadWholeFile(EntryFile()), "X-Tavrel-DeviceRoot"), device_.root().string());
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
