#include <gtest/gtest.h>

#include "platform/strings.h"

namespace {

TEST(Format, DevicePortAndKeyFormats)
{
    WCHAR buffer[80];
    EXPECT_EQ(StringCchPrintfW(buffer, 80, u"COM%d:", 5), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"COM5:");
    EXPECT_EQ(StringCchPrintfW(buffer, 80, u"Drivers\\quorvel%d", 9), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"Drivers\\quorvel9");
    EXPECT_EQ(StringCchPrintfW(buffer, 80, u"%s COM%d:", u"Serial1", 260), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"Serial1 COM260:");
    EXPECT_EQ(StringCchPrintfW(buffer, 80, u"Unable to create COM%d:\nPlease, choose another", 3), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"Unable to create COM3:\nPlease, choose another");
}

TEST(Format, NumbersFlagsAndWidths)
{
    WCHAR buffer[64];
    StringCchPrintfW(buffer, 64, u"[%5d|%-4d|%04d|%+d|%x|%#X|%u|%%]", -12, 7, 42, 3, 255u, 255u, 4000000000u);
    EXPECT_EQ(std::u16string(buffer), u"[  -12|7   |0042|+3|ff|0XFF|4000000000|%]");
    StringCchPrintfW(buffer, 64, u"%d %d %lld", -2147483647 - 1, 0xFFFFFFFFu, -5000000000LL);
    EXPECT_EQ(std::u16string(buffer), u"-2147483648 -1 -5000000000");
    StringCchPrintfW(buffer, 64, u"%c%hs%.2s|%S", u'A', "bc", u"defg", "narrow");
    EXPECT_EQ(std::u16string(buffer), u"Abcde|narrow");
}

TEST(Format, TruncationIsReportedAndTerminated)
{
    WCHAR buffer[10];
    // "COM%d:" of -2147483648 does not fit ten units.
    EXPECT_EQ(StringCchPrintfW(buffer, 10, u"COM%d:", -2147483647 - 1), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"COM-21474");
    EXPECT_EQ(StringCchPrintfW(buffer, 10, u"COM%d:", 12345), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"COM12345:");
}

TEST(Format, MismatchedOrMissingArgumentsAreRefused)
{
    WCHAR buffer[16] = u"untouched";
    EXPECT_EQ(StringCchPrintfW(buffer, 16, u"%s", 5), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(StringCchPrintfW(buffer, 16, u"%d", u"text"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchPrintfW(buffer, 16, u"%d %d", 1), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchPrintfW(buffer, 16, u"%d", 1, 2), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchPrintfW(buffer, 16, u"100%"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchPrintfW(buffer, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
}

TEST(WideStrings, CopyCatCompareAndSearch)
{
    WCHAR buffer[8];
    EXPECT_EQ(StringCchCopyW(buffer, 8, u"\\Prog"), S_OK);
    EXPECT_EQ(StringCchCatW(buffer, 8, u"ram Files"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"\\Progra");
    EXPECT_EQ(wcslen(buffer), 7u);
    EXPECT_EQ(wcscmp(u"COM", u"COM"), 0);
    EXPECT_NE(wcscmp(u"COM", u"com"), 0);
    EXPECT_LT(wcscmp(u"COM", u"COM1"), 0);
    const WCHAR* title = u"Tavrel V1.20";
    EXPECT_EQ(wcsstr(title, u"Tavrel"), title);
    EXPECT_EQ(wcsstr(title, u"tavrel"), nullptr);
    EXPECT_EQ(wcsstr(title, u"V1"), title + 7);
}

TEST(Utf, RoundTripAndIllFormedInput)
{
    const std::u16string text = u"m\u00e1scara \u20ac \U0001F600";
    EXPECT_EQ(platform::ToUtf16(platform::ToUtf8(text)), text);
    EXPECT_EQ(platform::ToUtf8(u"m\u00e1s"), "m\xc3\xa1s");
    const char16_t lone[] = {u'a', static_cast<char16_t>(0xD800), u'b', 0};
    EXPECT_EQ(platform::ToUtf8(lone), "a\xef\xbf\xbd" "b");
    EXPECT_EQ(platform::ToUtf16("\xff" "x"), u"\ufffdx");
}

}  // namespace
