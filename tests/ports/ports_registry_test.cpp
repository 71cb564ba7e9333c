// The registry keys of the ports: the driver key that the start-up scan writes
// for each virtual port, and the built-in drivers that the input port box
// lists, seen through the main window of a started program.
#include <algorithm>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "platform/debug_capture.h"
#include "platform/devices.h"
#include "platform/registry.h"
#include "ports/virtual_ports.h"
#include "program_fixture.h"
#include "support/file_replacements.h"
#include "testkit/temp_folder.h"
#include "settings/settings_store.h"
#include "state/app_settings.h"
#include "state/port_lists.h"

namespace {

using namespace tavrel::testing;

std::u16string Decimal(int number)
{
    std::u16string text;
    for (char c : std::to_string(number)) {
        text += static_cast<char16_t>(c);
    }
    return text;
}

std::u16string DriverKey(int number)
{
    return u"Drivers\\quorvel" + Decimal(number);
}

std::u16string Joined(const std::vector<std::u16string>& lines)
{
    std::u16string all;
    for (const std::u16string& line : lines) {
        all += line;
    }
    return all;
}

// ---- The driver keys of the virtual ports

class VirtualPortKeysTest : public ProgramTest {
protected:
    static void ExpectText(const std::u16string& key, const std::u16string& name, const std::u16string& text)
    {
        const auto value = ReadValue(HKEY_LOCAL_MACHINE, key, name);
        ASSERT_TRUE(value.has_value()) << "no value";
        EXPECT_EQ(value->type, REG_SZ);
        EXPECT_EQ(value->data, TextBytes(text));
    }

    static void ExpectDriverKey(int number)
    {
        SCOPED_TRACE(number);
        const std::u16string key = DriverKey(number);
        ExpectText(key, u"Dll", u"\\Program Files\\Tavrel\\quorvel.dll");
        ExpectText(key, u"Prefix", u"COM");
        ExpectText(key, u"FriendlyName", u"COM:" + Decimal(number) + u" Tavrel");
        const auto index = ReadValue(HKEY_LOCAL_MACHINE, key, u"Index");
        ASSERT_TRUE(index.has_value());
        EXPECT_EQ(index->type, REG_DWORD);
        EXPECT_EQ(ReadNumber(HKEY_LOCAL_MACHINE, key, u"Index"), static_cast<DWORD>(number));
    }
};

TEST_F(VirtualPortKeysTest, TheScanWritesTheKeyOfEveryNumberThatNoBuiltInPortHolds)
{
    AddScriptedBuiltInPort(u"Aux", 2);   // with the input, COM1 and COM2 are built in
    // A key left from before, with a value of someone else's.
    WriteText(HKEY_LOCAL_MACHINE, DriverKey(3), u"Prefix", u"XYZ");
    WriteNumber(HKEY_LOCAL_MACHINE, DriverKey(3), u"Index", 99);
    WriteText(HKEY_LOCAL_MACHINE, DriverKey(3), u"Extra", u"kept");

    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(person_.Entries(window, 1007), PortEntries({0, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(Numbers(FreeOutputs), (std::vector<int>{0, 3, 4, 5, 6, 7, 8, 9}));
    for (int n : {0, 3, 4, 5, 6, 7, 8, 9}) {
        ExpectDriverKey(n);
        EXPECT_FALSE(PortLinkExists(n)) << n;   // the probe leaves no port behind
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DriverKey(1)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DriverKey(2)));
    const auto names = ValueNames(HKEY_LOCAL_MACHINE, DriverKey(4));
    EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()),
              (std::set<std::u16string>{u"Dll", u"Prefix", u"FriendlyName", u"Index"}));
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, DriverKey(3)).size(), 5u);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, DriverKey(3), u"Extra")->data, TextBytes(u"kept"));
}

// The scan writes every driver key in one write of the machine hive, done
// before the window (and an autostarted relay) goes on; a scan that finds the
// keys as they are writes nothing.
TEST_F(VirtualPortKeysTest, TheScanWritesTheDriverKeysToTheFileInOneWrite)
{
    const std::filesystem::path hive = device_.root() / "registry" / "system.reg";
    FileReplacements writes(hive);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(writes.Count(), 1);
    const std::string text = ReadWholeFile(hive);
    for (int n : {0, 2, 3, 4, 5, 6, 7, 8, 9}) {
        EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Drivers\\quorvel" + std::to_string(n) + "]"), std::string::npos)
            << n;
    }
    person_.Close(window);
    ASSERT_EQ(WaitForExit(), 1);

    FileReplacements again(hive);
    FindFreeOutputs(nullptr);
    EXPECT_EQ(again.Count(), 0);
    EXPECT_EQ(ReadWholeFile(hive), text);
    ExpectDriverKey(9);
}

TEST_F(VirtualPortKeysTest, ANumberTakenByAnotherDeviceFailsItsProbeOnceAndIsNotOffered)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Other", 4);
    ASSERT_NE(ActivateDeviceEx(u"Drivers\\Other", nullptr, 0, nullptr), nullptr);
    platform::DebugOutputCapture debug;

    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(person_.Entries(window, 1007), PortEntries({0, 2, 3, 5, 6, 7, 8, 9}));
    EXPECT_EQ(debug.Count(u"Fallo ActivateDeviceEx\n"), 1u);
    ExpectDriverKey(4);
}

TEST(VirtualPortKeys, WithoutAnInstallPathTheDriverIsLookedForInTheRootFolder)
{
    ResetProgramState();
    TestDevice device;
    platform::DebugOutputCapture debug;
    RegisterVirtualPort(6);
    const auto dll = ReadValue(HKEY_LOCAL_MACHINE, DriverKey(6), u"Dll");
    ASSERT_TRUE(dll.has_value());
    EXPECT_EQ(dll->data, TextBytes(u"\\quorvel.dll"));
    EXPECT_FALSE(ProbeVirtualPort(6));   // no module there
    EXPECT_EQ(debug.Count(u"Fallo ActivateDeviceEx\n"), 1u);
}

// ---- The built-in serial ports

class DiscoveryTest : public ProgramTest {
protected:
    DiscoveryTest() : ProgramTest(Input::None) {}

    struct BuiltIn {
        std::u16string name;
        std::optional<std::u16string> prefix;
        std::optional<std::u16string> friendlyName;
        std::optional<DWORD> index;
    };
    static void Describe(const BuiltIn& port)
    {
        const std::u16string key = u"Drivers\\BuiltIn\\" + port.name;
        WriteText(HKEY_LOCAL_MACHINE, key, u"Order", port.name);   // makes the key even without the others
        if (port.prefix) {
            WriteText(HKEY_LOCAL_MACHINE, key, u"Prefix", *port.prefix);
        }
        if (port.friendlyName) {
            WriteText(HKEY_LOCAL_MACHINE, key, u"FriendlyName", *port.friendlyName);
        }
        if (port.index) {
            WriteNumber(HKEY_LOCAL_MACHINE, key, u"Index", *port.index);
        }
    }
};

TEST_F(DiscoveryTest, SerialPortsAreListedInRegistryOrderAsTheirKeysDescribeThem)
{
    for (const BuiltIn& port : {
             BuiltIn{u"Serial1", u"COM", std::nullopt, 1},
             BuiltIn{u"Gps", u"COM", u"GPS receiver", 3},
             BuiltIn{u"Lower", u"com", std::nullopt, 6},
             BuiltIn{u"Numbered", u"COM1", std::nullopt, 7},
             BuiltIn{u"NoIndex", u"COM", u"No index", std::nullopt},
             BuiltIn{u"Big", u"COM", std::nullopt, 260},
             BuiltIn{u"Wordy", u"COM", std::u16string(130, u'w'), 8},   // too long: as if missing
             BuiltIn{u"Twin", u"COM", std::nullopt, 3},
         }) {
        Describe(port);
    }
    SetUserNumber(u"Port", 3);
    platform::DebugOutputCapture debug;

    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(person_.Entries(window, 1002), (std::vector<std::u16string>{u"Serial1 COM1:", u"GPS receiver",
                                                                           u"Big COM260:", u"Wordy COM8:",
                                                                           u"Twin COM3:"}));
    EXPECT_EQ(Numbers(DetectedPorts), (std::vector<int>{1, 3, 4, 8, 3}));
    EXPECT_EQ(person_.Selection(window, 1002), 1);   // the first of the two with 3
    EXPECT_EQ(person_.Text(window, 1002), u"GPS receiver");
    const std::u16string output = Joined(debug.Lines());
    EXPECT_NE(output.find(u"GPS receiver\n"), std::u16string::npos);
    EXPECT_EQ(output.find(u"No index"), std::u16string::npos);
    // The numbers of the listed ports are never offered as outputs.
    EXPECT_EQ(Numbers(FreeOutputs), (std::vector<int>{0, 2, 5, 6, 7, 9}));
}

TEST_F(DiscoveryTest, AnIndexShorterThanFourBytesIsReadAsTheLowBytesOfItsNumber)
{
    const auto describe = [](const std::u16string& name, const std::vector<BYTE>& index) {
        Describe({name, u"COM", std::nullopt, std::nullopt});
        WriteValue(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\" + name, u"Index", REG_BINARY, index);
    };
    describe(u"One", {3});
    describe(u"Two", {4, 1});   // 260
    describe(u"Three", {5, 0, 0});
    describe(u"Five", {6, 0, 0, 0, 0});   // does not fit a 4-byte number
    describe(u"Empty", {});               // holds no number

    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(person_.Entries(window, 1002),
              (std::vector<std::u16string>{u"One COM3:", u"Two COM260:", u"Three COM5:"}));
    EXPECT_EQ(Numbers(DetectedPorts), (std::vector<int>{3, 4, 5}));
    // The numbers of the listed ports are not offered as outputs.
    EXPECT_EQ(Numbers(FreeOutputs), (std::vector<int>{0, 1, 2, 6, 7, 8, 9}));
}

class SavedPortTest : public DiscoveryTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(SavedPortTest, ASavedPortThatIsNotListedSelectsNothing)
{
    Describe({u"Serial1", u"COM", std::nullopt, 1});
    Describe({u"Serial255", u"COM", std::nullopt, 255});
    SetUserNumber(u"Port", GetParam());

    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(person_.Entries(window, 1002).size(), 2u);
    EXPECT_EQ(person_.Selection(window, 1002), -1);
    EXPECT_EQ(person_.Text(window, 1002), u"");
    EXPECT_EQ(static_cast<DWORD>(AppSettings.inputPort), GetParam());
}

// -1 would match the byte 255 if it were compared as a byte; 3 is not listed.
INSTANTIATE_TEST_SUITE_P(Ports, SavedPortTest, ::testing::Values(0xFFFFFFFFu, 3u),
                         [](const auto& named) { return named.param == 3 ? std::string("Three") : std::string("MinusOne"); });

TEST_F(DiscoveryTest, ASubkeyNameTooLongForTheEntryIsShortenedSoThatItsPortStillShows)
{
    const std::u16string name(200, u'N');
    Describe({name, u"COM", std::nullopt, 2});

    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    const auto entries = person_.Entries(window, 1002);
    ASSERT_EQ(entries.size(), 1u);
    const std::u16string& entry = entries[0];
    EXPECT_LE(entry.size(), 79u);
    EXPECT_EQ(entry.substr(0, 10), name.substr(0, 10));
    ASSERT_GE(entry.size(), 6u);
    EXPECT_EQ(entry.substr(entry.size() - 6), u" COM2:");
    EXPECT_EQ(Numbers(DetectedPorts), (std::vector<int>{2}));
}

}  // namespace
