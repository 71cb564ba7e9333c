// A port name typed into the input port box, read as "COM%d" reads it.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/typed_port.h"

namespace {

// The number that `text` names; nothing when it names none.
std::optional<long long> Parse(const std::u16string& text)
{
    long long number = -12345;
    if (!ParseTypedPort(text.c_str(), number)) {
        return std::nullopt;
    }
    return number;
}

TEST(TypedPort, ComAndANumberInEitherCaseWithBlanksBeforeAndAnythingAfter)
{
    EXPECT_EQ(Parse(u"COM4"), 4);
    EXPECT_EQ(Parse(u"com4"), 4);
    EXPECT_EQ(Parse(u"cOm4"), 4);
    EXPECT_EQ(Parse(u"COM 4"), 4);
    EXPECT_EQ(Parse(u"COM\t 4"), 4);
    EXPECT_EQ(Parse(u"COM4:"), 4);
    EXPECT_EQ(Parse(u"COM4x7"), 4);
    EXPECT_EQ(Parse(u"COM0"), 0);
}

TEST(TypedPort, NumbersOutsideThePortsAreReadAsTyped)
{
    // Whether they name a port is for the window to say.
    EXPECT_EQ(Parse(u"COM12"), 12);
    EXPECT_EQ(Parse(u"COM-1"), -1);
    EXPECT_EQ(Parse(u"COM+3"), 3);
    EXPECT_EQ(Parse(u"COM 007"), 7);
}

TEST(TypedPort, TextsThatNameNoNumberAreRefused)
{
    for (const std::u16string text : {u"", u" COM4", u"CO", u"COM", u"COMx", u"PORT4", u"COM-", u"COM- 4",
                                      u"COM:4", u"C0M4", u"\uFF23OM4"}) {
        EXPECT_EQ(Parse(text), std::nullopt) << std::string(text.begin(), text.end());
    }
}

TEST(TypedPort, OnlyTheFirstNineCharactersAreRead)
{
    EXPECT_EQ(Parse(u"COM123456"), 123456);
    EXPECT_EQ(Parse(u"COM1234567890"), 123456);
    EXPECT_EQ(Parse(u"COM0000006"), 0);          // "COM000000"
    EXPECT_EQ(Parse(u"COM     4"), 4);           // the digit is the ninth character
    EXPECT_EQ(Parse(u"COM      4"), std::nullopt);   // and here the tenth
    EXPECT_EQ(Parse(u"COM-999999999"), -99999);
}

}  // namespace
