// The shortcut text: what the installer writes reads back as the same target,
// the length counts characters, and every way a text can fail to be a
// shortcut is told apart from a shortcut.
#include <gtest/gtest.h>

#include "platform/strings.h"
#include "setup/shortcut_text.h"

namespace {

using tavrel::setup::ReadShortcutText;
using tavrel::setup::SameDevicePath;
using tavrel::setup::ShortcutText;

TEST(ShortcutText, WhatIsWrittenReadsBackWithTheLengthInCharacters)
{
    EXPECT_EQ(ShortcutText(u"\\Program Files\\Tavrel\\Tavrel.exe"), "34#\"\\Program Files\\Tavrel\\Tavrel.exe\"");
    for (const char16_t* target : {u"\\Program Files\\Tavrel\\Tavrel.exe", u"\\Tavrel.exe", u"\\Données\\Tavrel.exe"}) {
        const auto read = ReadShortcutText(ShortcutText(target));
        EXPECT_EQ(read.target, target) << read.problem;
        EXPECT_TRUE(read.problem.empty());
    }
    // Counted in characters, not in the bytes of its UTF-8 form.
    EXPECT_EQ(ShortcutText(u"\\Données\\Tavrel.exe").substr(0, 3), "21#");
}

TEST(ShortcutText, LineEndsAfterTheTextAndArgumentsAfterTheTargetAreAccepted)
{
    EXPECT_EQ(ReadShortcutText("13#\"\\Tavrel.exe\"\r\n").target, u"\\Tavrel.exe");
    EXPECT_EQ(ReadShortcutText("20#\"\\Tavrel.exe\" /quiet").target, u"\\Tavrel.exe");
    EXPECT_EQ(ReadShortcutText("11#\\Tavrel.exe").target, u"\\Tavrel.exe");
}

TEST(ShortcutText, TextsThatAreNoShortcutSayWhy)
{
    for (const char* text : {"", "hello", "#\"\\Tavrel.exe\"", "x3#\"\\Tavrel.exe\"", "12345#\"\\Tavrel.exe\"",
                             "12#\"\\Tavrel.exe\"", "14#\"\\Tavrel.exe\"", "12#\"\\Tavrel.exe", "2#\"\"", "0#",
                             "-13#\"\\Tavrel.exe\""}) {
        const auto read = ReadShortcutText(text);
        EXPECT_TRUE(read.target.empty()) << text;
        EXPECT_FALSE(read.problem.empty()) << text;
    }
    EXPECT_EQ(ReadShortcutText("12#\"\\Tavrel.exe\"").problem, "it gives its target 12 characters but the target has 13");
}

TEST(ShortcutText, DevicePathsCompareWithoutRegardToCase)
{
    EXPECT_TRUE(SameDevicePath(u"\\Program Files\\Tavrel\\Tavrel.exe", u"\\PROGRAM FILES\\tavrel\\TAVREL.EXE"));
    EXPECT_FALSE(SameDevicePath(u"\\Program Files\\Tavrel\\Tavrel.exe", u"\\Program Files\\Tavrel\\Tavrel.ex"));
    EXPECT_FALSE(SameDevicePath(u"\\Tavrel.exe", u"\\Tavrel2.exe"));
}

}  // namespace
