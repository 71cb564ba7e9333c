// The REGEDIT4 text form of a hive: what is written, what is tolerated when
// read, and which line an error names.
#include <gtest/gtest.h>

#include "registry/reg_text.h"
#include "registry_test_util.h"

namespace {

using platform::registry::FormatHive;
using platform::registry::Key;
using platform::registry::ParseHive;
using tavrel::testing::Bytes;
using tavrel::testing::TextBytes;

TEST(RegText, WritesTheReadableFormsParentsFirst)
{
    Key root(u"", nullptr);
    root.SetValue({u"RootValue", REG_DWORD, Bytes({0x2a, 0, 0, 0})});
    auto serial = root.AddSubkey(u"Drivers")->AddSubkey(u"BuiltIn")->AddSubkey(u"Serial1");
    serial->SetValue({u"Prefix", REG_SZ, TextBytes(u"COM")});
    serial->SetValue({u"Index", REG_DWORD, Bytes({1, 0, 0, 0})});
    serial->SetValue({u"", REG_SZ, TextBytes(u"say \"C:\\x\"")});
    serial->SetValue({u"Bin", REG_BINARY, Bytes({1, 2, 0xff})});
    serial->SetValue({u"Other", REG_MULTI_SZ, Bytes({0x41, 0, 0, 0, 0, 0})});
    serial->SetValue({u"Odd\"name\\", REG_DWORD, Bytes({1, 2, 3})});
    serial->SetValue({u"Lines", REG_SZ, TextBytes(u"a\nb")});
    serial->SetValue({u"Q", REG_QWORD, std::vector<BYTE>(26, 0x10)});
    root.AddSubkey(u"Empty \u00C4");

    EXPECT_EQ(FormatHive(root, u"HKEY_LOCAL_MACHINE"),
              "REGEDIT4\n"
              "\n[HKEY_LOCAL_MACHINE]\n"
              "\"RootValue\"=dword:0000002a\n"
              "\n[HKEY_LOCAL_MACHINE\\Drivers]\n"
              "\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]\n"
              "\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial1]\n"
              "\"Prefix\"=\"COM\"\n"
              "\"Index\"=dword:00000001\n"
              "@=\"say \\\"C:\\\\x\\\"\"\n"
              "\"Bin\"=hex:01,02,ff\n"
              "\"Other\"=hex(7):41,00,00,00,00,00\n"
              "\"Odd\\\"name\\\\\"=hex(4):01,02,03\n"
              "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n"
              "\"Q\"=hex(b):10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,10,\\\n"
              "  10,10\n"
              "\n[HKEY_LOCAL_MACHINE\\Empty \xC3\x84]\n");
}

TEST(RegText, ToleratesWhatPeopleWriteByHand)
{
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "; written by hand\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software]\r\n"
        "\r\n"
        "  [hkey_current_user\\Software\\Tavrel]  \r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "    03 , 04\r\n"
        "\"Name\" = \"x\"\r\n"
        "\"\"=dword:7\r\n"
        "\"Empty\"=hex:\r\n";
    const auto parsed = ParseHive(text, u"HKEY_CURRENT_USER");
    ASSERT_NE(parsed.root, nullptr) << parsed.errorLine << ": " << parsed.error;
    EXPECT_EQ(FormatHive(*parsed.root, u"HKEY_CURRENT_USER"),
              "REGEDIT4\n"
              "\n[HKEY_CURRENT_USER\\Software]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Tavrel]\n"
              "\"Blob\"=hex:01,02,03,04\n"
              "\"Name\"=\"x\"\n"
              "@=dword:00000007\n"
              "\"Empty\"=hex:\n");
}

TEST(RegText, EveryErrorNamesItsLine)
{
    struct Case {
        std::string text;
        std::size_t line;
    };
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n";   // a key opens on line 3
    const std::vector<Case> cases = {
        {"", 1},
        {"\n; only a comment\n", 1},
        {"REGEDIT5\n", 1},
        {"REGEDIT4\n\"v\"=dword:1\n", 2},
        {head + "\"v\"=dword:123456789\n", 4},
        {head + "\"v\"=dword:xyz\n", 4},
        {head + "\"v\"=\"open\n", 4},
        {head + "\"v\"=\"bad \\n escape\"\n", 4},
        {head + "\"v\"=\"text\" trailing\n", 4},
        {head + "\"v\"=hex:01,0g\n", 4},
        {head + "\"v\"=hex:01,002\n", 4},
        {head + "\"v\"=hex(zz):01\n", 4},
        {head + "\"v\"=hex:01,02,\\\n", 4},
        {head + "\"a\"=hex:01\n\"v\"=hex:01,\\\n  02,\\\n  0x\n", 5},
        {head + "\"v\"=-\n", 4},
        {head + "\"v\" dword:1\n", 4},
        {head + "\"v\"=str:1\n", 4},
        {head + "\"line\x01\"=dword:1\n", 4},
        {head + "junk\n", 4},
        {head + "[HKEY_CURRENT_USER\\A]\n", 4},
        {head + "[HKEY_LOCAL_MACHINEX\\A]\n", 4},
        {head + "[-HKEY_LOCAL_MACHINE\\A]\n", 4},
        {head + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 4},
        {head + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 4},
        {head + "\"v\"=\"\xC3\x28\"\n", 4},
        {head + "\"v\"=\"\xED\xA0\x80\"\n", 4},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseHive(c.text, u"HKEY_LOCAL_MACHINE");
        EXPECT_EQ(parsed.root, nullptr) << c.text;
        EXPECT_EQ(parsed.errorLine, c.line) << c.text;
        EXPECT_FALSE(parsed.error.empty()) << c.text;
    }
}

}  // namespace
