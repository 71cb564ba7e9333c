// The settings in the registry and the Startup shortcut: what is loaded before
// the main window exists and what is saved after it has ended.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "program_harness.h"
#include "settings/settings_store.h"
#include "state/app_settings.h"
#include "state/install_path.h"
#include "state/port_lists.h"
#include "support/file_replacements.h"
#include "support/test_device.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;

class SettingsStoreTest : public ::testing::Test {
protected:
    SettingsStoreTest() { ResetProgramState(); }
    ~SettingsStoreTest() override { ResetProgramState(); }

    // The host file of "\Tavrel.lnk" in a special folder.
    static std::filesystem::path Shortcut(int folder)
    {
        WCHAR path[MAX_PATH] = {};
        EXPECT_TRUE(SHGetSpecialFolderPath(nullptr, path, folder, FALSE));
        return platform::HostPathOf(std::u16string(path) + u"\\Tavrel.lnk");
    }

    static void ExpectDword(const std::u16string& name, DWORD expected)
    {
        const auto value = ReadValue(HKEY_CURRENT_USER, kSettingsKey, name);
        ASSERT_TRUE(value.has_value()) << "no value";
        EXPECT_EQ(value->type, REG_DWORD);
        EXPECT_EQ(value->data.size(), 4u);
        EXPECT_EQ(UserNumber(name), expected);
    }

    // Boots the device again, damaged or not.
    void RebootAsItIs() const
    {
        platform::ShutdownDevice();
        platform::DeviceSettings settings;
        settings.deviceRoot = device_.root();
        settings.portFolder = device_.portFolder();
        settings.syncHostSerialPorts = false;
        platform::BootDevice(settings);
    }

    // The person chose these outputs, and the program ended.
    static void SaveWithOutputs(const PortList& outputs)
    {
        SplitOutputs = outputs;
        OutputsChangedByPerson();
        SaveSettings();
    }

    TestDevice device_;
};

TEST_F(SettingsStoreTest, AFirstRunLoadsTheDefaultsAndNoInstallPath)
{
    AppSettings = Settings{7, 7, 7, 7};
    InstallPath[0] = u'x';
    LoadSettings();
    EXPECT_EQ(AppSettings.inputPort, 1);
    EXPECT_EQ(AppSettings.baudIndex, 0);
    EXPECT_EQ(AppSettings.autostart, 0u);
    EXPECT_EQ(AppSettings.reconnect.load(), 0u);
    EXPECT_EQ(InstallPath[0], u'\0');
    EXPECT_FALSE(SettingsUnreadable);
}

TEST_F(SettingsStoreTest, StoredNumbersOfOneToFourBytesAreLoadedWhateverTheirType)
{
    SetUserNumber(u"Port", 0xFFFFFFFF);
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Baud", REG_BINARY, {7, 0, 0, 0});
    WriteText(HKEY_CURRENT_USER, kSettingsKey, u"Autostart", u"yes");   // eight bytes: does not fit
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Reconnect", REG_BINARY, {1, 0, 0, 0});
    LoadSettings();
    EXPECT_EQ(AppSettings.inputPort, -1);
    EXPECT_EQ(AppSettings.baudIndex, 7);
    EXPECT_EQ(AppSettings.autostart, 0u);
    EXPECT_EQ(AppSettings.reconnect.load(), 1u);

    WriteText(HKEY_CURRENT_USER, kSettingsKey, u"Reconnect", u"on");   // six bytes: does not fit
    LoadSettings();
    EXPECT_EQ(AppSettings.reconnect.load(), 0u);

    // Fewer bytes hold the number that a person means by them: hex:04 is 4.
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Port", REG_BINARY, {4});
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Baud", REG_DWORD, {12, 0});
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Autostart", REG_BINARY, {0, 1, 0});
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"GpsdHandoff", REG_BINARY, {1});
    LoadSettings();
    EXPECT_EQ(AppSettings.inputPort, 4);
    EXPECT_EQ(AppSettings.baudIndex, 12);
    EXPECT_EQ(AppSettings.autostart, 256u);
    EXPECT_EQ(AppSettings.gpsdHandoff, 1u);

    // An empty value holds no number: the default stays.
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Port", REG_DWORD, {});
    LoadSettings();
    EXPECT_EQ(AppSettings.inputPort, 1);
}

TEST_F(SettingsStoreTest, SavingWritesEveryValueAsAFourByteDword)
{
    AppSettings = Settings{-1, 6, 1, 1};
    SaveWithOutputs({5, 2});
    ExpectDword(u"Port", 0xFFFFFFFF);
    ExpectDword(u"Baud", 6);
    ExpectDword(u"Autostart", 1);
    ExpectDword(u"Reconnect", 1);
    ExpectDword(u"Split", 72);

    SaveWithOutputs({9, 0});
    ExpectDword(u"Split", (1u << 1) | (1u << 10));

    SaveWithOutputs({});
    ExpectDword(u"Split", 0);
}

// Every value of one save lands in one replacement of user.reg: one write and
// one sync of the file at exit, however many values there are.
TEST_F(SettingsStoreTest, SavingWritesTheSettingsFileOnce)
{
    SaveSettings();   // the key exists from now on, as after any earlier run
    FileReplacements writes(device_.root() / "registry" / "user.reg");
    AppSettings = Settings{4, 6, 1, 1};
    SaveWithOutputs({5, 2});
    EXPECT_EQ(writes.Count(), 1);
    ExpectDword(u"Port", 4);
    ExpectDword(u"Baud", 6);
    ExpectDword(u"Autostart", 1);
    ExpectDword(u"Reconnect", 1);
    ExpectDword(u"Split", 72);
}

// At exit only what the person changed in the window is written: what
// another program stored meanwhile (tavrel-config while Tavrel runs) stays,
// the Startup shortcut follows it, and a choice the person made after it wins.
TEST_F(SettingsStoreTest, AtExitOnlyWhatThePersonChangedIsWrittenOverWhatAnotherProgramStored)
{
    WriteWholeFile(Shortcut(CSIDL_PROGRAMS), "the shortcut");
    SetUserNumber(u"Port", 3);
    SetUserNumber(u"Split", 72);
    LoadSettings();
    for (const char16_t* name : {u"Reconnect", u"Autostart"}) {
        SetUserNumber(name, 1);
    }
    SetUserNumber(u"Baud", 6);
    SetUserNumber(u"Split", 24);
    AppSettings.baudIndex = 9;
    SaveSettings();
    ExpectDword(u"Port", 3);
    ExpectDword(u"Baud", 9);
    ExpectDword(u"Reconnect", 1);
    ExpectDword(u"Autostart", 1);
    ExpectDword(u"Split", 24);
    EXPECT_EQ(ReadWholeFile(Shortcut(CSIDL_STARTUP)), "the shortcut");

    // Outputs the person added or deleted are saved as they are chosen.
    SaveWithOutputs({5});
    ExpectDword(u"Split", 64);

    // The other program's Reconnect, taken up by the window, then turned off
    // by the person: the later change, the person's, is written.
    ReloadSetting(SettingId::Reconnect);
    EXPECT_EQ(AppSettings.reconnect.load(), 1u);
    AppSettings.reconnect.store(0);
    SaveSettings();
    ExpectDword(u"Reconnect", 0);
}

// The hand-off to gpsd is set with tavrel-config, not in the window: it is
// loaded, and saving the window's choices never writes over it.
TEST_F(SettingsStoreTest, TheGpsdHandOffIsLoadedAndNeverSavedOver)
{
    LoadSettings();
    EXPECT_EQ(AppSettings.gpsdHandoff, 0u);
    EXPECT_EQ(std::u16string(AppSettings.gpsdSocket), u"/run/gpsd.sock");

    SetUserNumber(u"GpsdHandoff", 1);
    WriteText(HKEY_CURRENT_USER, kSettingsKey, u"GpsdSocket", u"/tmp/gpsd.sock");
    LoadSettings();
    EXPECT_EQ(AppSettings.gpsdHandoff, 1u);
    EXPECT_EQ(std::u16string(AppSettings.gpsdSocket), u"/tmp/gpsd.sock");

    AppSettings.gpsdHandoff = 0;
    SaveSettings();
    EXPECT_EQ(UserNumber(u"GpsdHandoff"), 1u);

    // A path longer than a local socket's, or not text, leaves the default.
    WriteText(HKEY_CURRENT_USER, kSettingsKey, u"GpsdSocket", std::u16string(kLongestSocketPath + 1, u'x'));
    LoadSettings();
    EXPECT_EQ(std::u16string(AppSettings.gpsdSocket), u"/run/gpsd.sock");
    SetUserNumber(u"GpsdSocket", 7);
    LoadSettings();
    EXPECT_EQ(std::u16string(AppSettings.gpsdSocket), u"/run/gpsd.sock");
}

TEST_F(SettingsStoreTest, AnInstallPathOf128CharactersFitsAndOneOf129DoesNot)
{
    const std::u16string fits = u"\\" + std::u16string(127, u'a');
    WriteText(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath", fits);
    LoadSettings();
    EXPECT_EQ(std::u16string(InstallPath), fits);

    WriteText(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath", fits + u"b");
    LoadSettings();
    EXPECT_EQ(std::u16string(InstallPath), u"");
}

TEST_F(SettingsStoreTest, TheInstallPathIsReadFromTheMachineAndTheSettingsFromTheUser)
{
    WriteText(HKEY_CURRENT_USER, kSettingsKey, u"InstallPath", u"\\User");
    WriteNumber(HKEY_LOCAL_MACHINE, kSettingsKey, u"Port", 5);
    WriteText(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath", u"\\Machine");
    LoadSettings();
    EXPECT_EQ(std::u16string(InstallPath), u"\\Machine");
    EXPECT_EQ(AppSettings.inputPort, 1);
}

TEST_F(SettingsStoreTest, AutostartOnCopiesTheProgramsShortcutToStartupAlsoOverAnOldCopy)
{
    const auto programs = Shortcut(CSIDL_PROGRAMS);
    const auto startup = Shortcut(CSIDL_STARTUP);
    WriteWholeFile(programs, "the shortcut");
    AppSettings.autostart = 1;

    SaveSettings();
    EXPECT_EQ(ReadWholeFile(startup), "the shortcut");

    WriteWholeFile(startup, "an old copy");
    SaveSettings();
    EXPECT_EQ(ReadWholeFile(startup), "the shortcut");
    EXPECT_EQ(ReadWholeFile(programs), "the shortcut");
}

TEST_F(SettingsStoreTest, AutostartOffDeletesTheStartupShortcutIfThere)
{
    const auto programs = Shortcut(CSIDL_PROGRAMS);
    const auto startup = Shortcut(CSIDL_STARTUP);
    WriteWholeFile(programs, "the shortcut");
    WriteWholeFile(startup, "the shortcut");

    SaveSettings();
    EXPECT_FALSE(std::filesystem::exists(startup));
    SaveSettings();   // nothing there to delete
    EXPECT_FALSE(std::filesystem::exists(startup));
    EXPECT_TRUE(std::filesystem::exists(programs));
}

TEST_F(SettingsStoreTest, AutostartOnWithoutAProgramsShortcutPutsNothingInStartup)
{
    AppSettings.autostart = 1;
    SaveSettings();
    EXPECT_FALSE(std::filesystem::exists(Shortcut(CSIDL_STARTUP)));
    EXPECT_EQ(UserNumber(u"Autostart"), 1u);
}

// One stray Latin-1 byte makes user.reg unparsable: the defaults that the run
// had to use are not saved over the settings, nor is the Startup shortcut
// brought in line with them; once the file is repaired the settings are back.
TEST_F(SettingsStoreTest, SettingsThatCannotBeReadAreNotReplacedAndTheShortcutStays)
{
    SetUserNumber(u"Autostart", 1);
    SetUserNumber(u"Split", 72);
    WriteWholeFile(Shortcut(CSIDL_PROGRAMS), "the shortcut");
    const auto startup = Shortcut(CSIDL_STARTUP);
    WriteWholeFile(startup, "the shortcut");
    const auto hive = device_.root() / "registry" / "user.reg";
    const std::string intact = ReadWholeFile(hive);
    std::string spoilt = intact;
    spoilt.insert(spoilt.find("Tavrel") + 6, 1, '\xE9');
    WriteWholeFile(hive, spoilt);
    RebootAsItIs();

    LoadSettings();
    EXPECT_TRUE(SettingsUnreadable);
    EXPECT_EQ(AppSettings.autostart, 0u);
    SaveSettings();
    EXPECT_EQ(ReadWholeFile(hive), spoilt);
    EXPECT_EQ(ReadWholeFile(startup), "the shortcut");

    WriteWholeFile(hive, intact);
    RebootAsItIs();
    LoadSettings();
    EXPECT_FALSE(SettingsUnreadable);
    EXPECT_EQ(AppSettings.autostart, 1u);
}

}  // namespace
