// The display choice from the environment: the defaults, the values that are
// taken, and the values that are refused with a line that names them while
// the default stays.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "runtime/display_choice.h"

namespace {

using platform::DisplayKind;

class DisplayChoiceTest : public ::testing::Test {
protected:
    DisplayChoiceTest()
    {
        for (const char* name : {"TAVREL_DISPLAY", "TAVREL_SCREEN", "TAVREL_SCREEN_SCALE", "DISPLAY", "WAYLAND_DISPLAY"}) {
            ::unsetenv(name);
        }
    }

    static platform::DisplayChoice With(const char* name, const char* value)
    {
        ::setenv(name, value, 1);
        return platform::DisplayChoiceFromEnvironment();
    }
};

TEST_F(DisplayChoiceTest, NothingSetIsAutomaticOnAPortraitScreen)
{
    // An empty variable counts as one that is not set.
    for (const char* name : {"TAVREL_DISPLAY", "TAVREL_SCREEN", "TAVREL_SCREEN_SCALE", "DISPLAY"}) {
        ::setenv(name, "", 1);
    }
    const platform::DisplayChoice choice = platform::DisplayChoiceFromEnvironment();
    EXPECT_EQ(choice.kind, DisplayKind::Auto);
    EXPECT_EQ(choice.screen.width, 240);
    EXPECT_EQ(choice.screen.height, 320);
    EXPECT_EQ(choice.scale, 0);
    EXPECT_TRUE(choice.problems.empty());
    EXPECT_FALSE(platform::DisplayServerNamed());
}

TEST_F(DisplayChoiceTest, UsableValuesAreTaken)
{
    EXPECT_EQ(With("TAVREL_DISPLAY", "qt").kind, DisplayKind::Qt);
    EXPECT_EQ(With("TAVREL_DISPLAY", "headless").kind, DisplayKind::Headless);
    EXPECT_EQ(With("TAVREL_DISPLAY", "auto").kind, DisplayKind::Auto);
    const platform::DisplayChoice landscape = With("TAVREL_SCREEN", "320x240");
    EXPECT_EQ(landscape.screen.width, 320);
    EXPECT_EQ(landscape.screen.height, 240);
    EXPECT_EQ(With("TAVREL_SCREEN", "64x4096").screen.height, 4096);
    const platform::DisplayChoice scaled = With("TAVREL_SCREEN_SCALE", "3");
    EXPECT_EQ(scaled.scale, 3);
    EXPECT_TRUE(scaled.problems.empty());
}

TEST_F(DisplayChoiceTest, UnusableValuesAreNamedAndTheDefaultsStay)
{
    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"TAVREL_DISPLAY", "gtk"},       {"TAVREL_DISPLAY", "QT"},         {"TAVREL_SCREEN", "320*240"},
        {"TAVREL_SCREEN", "320x"},       {"TAVREL_SCREEN", "x240"},        {"TAVREL_SCREEN", "63x320"},
        {"TAVREL_SCREEN", "240x4097"},   {"TAVREL_SCREEN", "-240x320"},    {"TAVREL_SCREEN", " 240x320"},
        {"TAVREL_SCREEN", "240x320x2"},  {"TAVREL_SCREEN", "240x99999999999"},
        {"TAVREL_SCREEN_SCALE", "0"},    {"TAVREL_SCREEN_SCALE", "9"},     {"TAVREL_SCREEN_SCALE", "2.5"},
        {"TAVREL_SCREEN_SCALE", "two"},  {"TAVREL_SCREEN_SCALE", "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        const platform::DisplayChoice choice = With(c.name, c.value);
        ::unsetenv(c.name);
        ASSERT_EQ(choice.problems.size(), 1u);
        EXPECT_NE(choice.problems[0].find(std::string(c.name) + "='" + c.value + "'"), std::string::npos)
            << choice.problems[0];
        EXPECT_EQ(choice.kind, DisplayKind::Auto);
        EXPECT_EQ(choice.screen.width, 240);
        EXPECT_EQ(choice.screen.height, 320);
        EXPECT_EQ(choice.scale, 0);
    }
}

TEST_F(DisplayChoiceTest, ADisplayServerIsNamedByDisplayOrWaylandDisplay)
{
    ::setenv("DISPLAY", "", 1);
    EXPECT_FALSE(platform::DisplayServerNamed());
    ::setenv("DISPLAY", ":0", 1);
    EXPECT_TRUE(platform::DisplayServerNamed());
    ::unsetenv("DISPLAY");
    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_TRUE(platform::DisplayServerNamed());
}

}  // namespace
