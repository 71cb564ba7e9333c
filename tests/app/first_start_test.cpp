// The program's first start on a device that has no install of it: it sets
// the device up as the installer would (module, install path, Programs
// shortcut, login entry), says so in one line and relays; on an installed
// device it changes nothing and says nothing; an older install (another
// module, a login entry whose launcher is gone) is brought up to date with
// the person's settings and port folder kept.
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "platform/boot.h"
#include "program_harness.h"
#include "relay/relay_run.h"
#include "setup/autostart_entry.h"
#include "setup/module_record.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class FirstStartTest : public DeviceProcessTest {
protected:
    fs::path Module() const { return root() / "fs" / "Program Files" / "Tavrel" / "quorvel.dll"; }
    fs::path ProgramsShortcut() const { return root() / "fs" / "Windows" / "Start Menu" / "Programs" / "Tavrel.lnk"; }
    fs::path EntryFile() const { return configFolder() / "autostart" / "tavrel.desktop"; }
    std::string SetUpLine() const { return "Tavrel set up its device at " + root().string(); }
    std::string UpdateLine() const { return "Tavrel brought its device at " + root().string() + " up to date: "; }

    // Runs the program until the saved outputs relay the receiver, then ends it.
    std::string RunUntilRelaying()
    {
        ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
        EXPECT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
        std::vector<int> readers;
        for (const fs::path& link : SavedOutputLinks()) {
            readers.push_back(OpenRaw(link.string()));
        }
        EXPECT_TRUE(WaitUntilRelaying(gps(), readers)) << program.Errors();
        const std::vector<unsigned char> all = AllByteValues();
        gps().Write(all);
        for (int reader : readers) {
            EXPECT_EQ(ReadFor(reader, all.size()), all);
            ::close(reader);
        }
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
        return program.Errors();
    }

    // A login entry as an older install left it, in this device's session.
    void WriteEntry(const fs::path& launcher, const fs::path& deviceRoot, const fs::path& portFolder) const
    {
        fs::create_directories(EntryFile().parent_path());
        WriteWholeFile(EntryFile(), tavrel::setup::AutostartEntryText(launcher, deviceRoot, portFolder));
    }

    std::optional<tavrel::setup::EntryCommand> Entry() const
    {
        return tavrel::setup::ReadEntryCommand(ReadWholeFile(EntryFile()));
    }
};

TEST_F(FirstStartTest, ADeviceWithoutAnInstallIsSetUpOnceAndRelays)
{
    PrepareLastRun(1);   // settings as tavrel-config or a demo set-up leave them; nothing installed
    ASSERT_FALSE(Exists(Module()));

    const std::string errors = RunUntilRelaying();
    EXPECT_NE(errors.find(SetUpLine()), std::string::npos) << errors;
    EXPECT_TRUE(tavrel::setup::SameBytes(Module(), QUORVEL_MODULE_PATH));
    EXPECT_EQ(tavrel::setup::CheckInstalledModule(Module(), QUORVEL_MODULE_PATH).state,
              tavrel::setup::ModuleState::Installed);
    EXPECT_TRUE(Exists(ProgramsShortcut()));
    const auto entry = Entry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->launcher, fs::path(TAVREL_STARTUP_PATH));
    EXPECT_EQ(entry->deviceRoot, root());
    EXPECT_EQ(entry->portFolder, ports());

    const std::string again = RunUntilRelaying();
    EXPECT_EQ(again.find("Tavrel set up"), std::string::npos) << again;
    EXPECT_EQ(again.find("Tavrel brought"), std::string::npos) << again;
}

TEST_F(FirstStartTest, AnInstalledDeviceKeepsItsSettingsAndIsNotTouched)
{
    Install();
    PrepareLastRun(1);
    SaveText(u"KeptByThePerson", u"192.0.2.7:10110");
    const std::string entryBefore = ReadWholeFile(EntryFile());
    const auto moduleTime = fs::last_write_time(Module());

    const std::string errors = RunUntilRelaying();
    EXPECT_EQ(errors.find("Tavrel set up"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Tavrel brought"), std::string::npos) << errors;
    EXPECT_EQ(ReadWholeFile(EntryFile()), entryBefore);
    EXPECT_EQ(fs::last_write_time(Module()), moduleTime);
    EXPECT_EQ(SavedNumber(u"Split"), kSavedSplit);
    EXPECT_NE(ReadWholeFile(UserHive()).find("\"KeptByThePerson\"=\"192.0.2.7:10110\""), std::string::npos)
        << ReadWholeFile(UserHive());
}

TEST_F(FirstStartTest, NoDeviceAtAllIsMadeWithAutostartLeftOff)
{
    ASSERT_FALSE(Exists(root()));
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForMainWindow()) << program.Errors();
    EXPECT_NE(program.Errors().find(SetUpLine()), std::string::npos) << program.Errors();
    program.Signal(SIGTERM);
    EXPECT_TRUE(program.WaitExit(60s)) << program.Errors();
    EXPECT_TRUE(Exists(Module()));
    EXPECT_TRUE(Exists(ProgramsShortcut()));
    EXPECT_TRUE(Entry());
    EXPECT_NE(SavedNumber(u"Autostart"), std::optional<DWORD>(1));
    EXPECT_FALSE(Exists(StartupShortcut()));
}

TEST_F(FirstStartTest, AnOlderInstallIsBroughtUpToDateKeepingSettingsAndPortFolder)
{
    Install();
    PrepareLastRun(1);
    // An older build's module, recorded as installed, and a login entry whose
    // launcher was in a build folder that is gone.
    WriteWholeFile(Module(), ReadWholeFile(QUORVEL_MODULE_PATH) + "older build");
    ASSERT_EQ(tavrel::setup::RecordInstalledModule(Module()), "");
    const fs::path goneLauncher = scratch() / "removed-clone" / "build" / "app" / "tavrel-startup";
    WriteEntry(goneLauncher, root(), ports());

    const std::string errors = RunUntilRelaying();
    EXPECT_NE(errors.find(UpdateLine() + "the virtual port module, the login entry"), std::string::npos) << errors;
    EXPECT_TRUE(tavrel::setup::SameBytes(Module(), QUORVEL_MODULE_PATH));
    EXPECT_EQ(tavrel::setup::CheckInstalledModule(Module(), QUORVEL_MODULE_PATH).state,
              tavrel::setup::ModuleState::Installed);
    const auto entry = Entry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->launcher, fs::path(TAVREL_STARTUP_PATH));
    EXPECT_EQ(entry->portFolder, ports());
    EXPECT_EQ(SavedNumber(u"Split"), kSavedSplit);
    EXPECT_EQ(SavedNumber(u"Port"), kSavedInput);
}

TEST_F(FirstStartTest, AModuleChangedSinceItsInstallAndAnotherDevicesEntryStay)
{
    Install();
    PrepareLastRun(1);
    const std::string changed = ReadWholeFile(QUORVEL_MODULE_PATH) + "changed by hand";
    WriteWholeFile(Module(), changed);   // the record still names the installed bytes
    const fs::path otherDevice = scratch() / "other-device";
    WriteEntry(scratch() / "gone" / "tavrel-startup", otherDevice, {});
    const std::string otherEntry = ReadWholeFile(EntryFile());

    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForMainWindow()) << program.Errors();
    program.Signal(SIGTERM);
    EXPECT_TRUE(program.WaitExit(60s)) << program.Errors();
    EXPECT_NE(program.Errors().find(Module().string() + " was changed since it was installed; it is left as it is"),
              std::string::npos)
        << program.Errors();
    EXPECT_EQ(ReadWholeFile(Module()), changed);
    EXPECT_EQ(ReadWholeFile(EntryFile()), otherEntry);
}

}  // namespace
