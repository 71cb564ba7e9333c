// An output port's settings as a person sets them, on either screen: opened
// by a double tap on the output in the list and by the Set button, a pattern
// that is not one refused with the reason while the dialog stays, and OK
// that stores the settings where the next run and tavrel-config read them.
#include <gtest/gtest.h>

#include "platform/registry_key.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "program_fixture.h"
#include "resources/resource_ids.h"
#include "settings/output_description.h"
#include "state/app_settings.h"
#include "state/setting_table.h"

namespace {

using namespace tavrel::testing;

// The screen's width and height.
class PortSettingsDialogTest : public ProgramTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(PortSettingsDialogTest, SettingsAreSetInTheWindowAndStoredWithOk)
{
    person_.SetScreenSize(GetParam().first, GetParam().second);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {5, 2});
    person_.DoubleClick(window, IDC_OUTPUT_LIST, 1);
    HWND settings = person_.WaitForWindow(u"COM2 Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(person_.Enabled(settings, IDC_PORT_TALK_TO));   // nobody talks yet
    person_.Choose(settings, IDC_PORT_TALK, 1);
    EXPECT_TRUE(person_.Enabled(settings, IDC_PORT_TALK_TO));
    person_.Type(settings, IDC_PORT_ONLY, u"RMC");
    person_.Type(settings, IDC_PORT_TALKER, u"GN:GP");
    person_.Type(settings, IDC_PORT_DENY, u"gsv");   // addresses are written in capitals

    person_.PressCaptionOk(settings);
    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_NE(box->text.find(u"'gsv' is not a sentence pattern"), std::u16string::npos)
        << platform::ToUtf8(box->text);
    person_.Answer(*box);
    EXPECT_TRUE(person_.WaitUntil([&] { return person_.MessageBoxes().empty() && person_.Shown(settings); }));
    person_.Type(settings, IDC_PORT_DENY, u"");
    person_.PressCaptionOk(settings);
    EXPECT_TRUE(person_.WaitForNoWindow(u"COM2 Settings"));

    OutputOptions expected;
    expected.talk = TalkMode::Lines;
    expected.shape.only = {"RMC"};
    expected.shape.talkers = {{"GN", "GP"}};
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    const std::optional<std::u16string> stored = key.Text(u"OutputCOM2");
    ASSERT_TRUE(stored.has_value());
    std::string reason;
    EXPECT_EQ(ParseOutputOptionsText(platform::ToUtf8(*stored), reason), expected) << reason;
    EXPECT_EQ(AppSettings.portOptions[2], expected);

    // The Set button opens the chosen output's settings, as they were stored.
    person_.Click(window, IDC_PORT_SETTINGS);
    settings = person_.WaitForWindow(u"COM2 Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(person_.Selection(settings, IDC_PORT_TALK), 1);
    EXPECT_EQ(person_.Text(settings, IDC_PORT_ONLY), u"RMC");
    EXPECT_EQ(person_.Text(settings, IDC_PORT_TALKER), u"GN:GP");
    person_.Click(settings, IDCANCEL);
    EXPECT_TRUE(person_.WaitForNoWindow(u"COM2 Settings"));
}

INSTANTIATE_TEST_SUITE_P(Screens, PortSettingsDialogTest,
                         ::testing::Values(std::pair{240, 320}, std::pair{320, 240}), [](const auto& named) {
                             return std::to_string(named.param.first) + "x" + std::to_string(named.param.second);
                         });

}  // namespace
