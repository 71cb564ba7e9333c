// The Inputs button and dialog as a person uses them, on either screen: the
// list with the main input first, an input added with the editing dialog, a
// removal that would leave a standby without its input refused with the
// reason, the main input's start-up command with a wrong escape refused,
// and OK that stores the list and the command where tavrel-config and the
// next run read them.
#include <gtest/gtest.h>

#include "platform/registry_key.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "resources/resource_ids.h"
#include "settings/extra_inputs_store.h"
#include "settings/output_options_store.h"
#include "state/app_settings.h"

namespace {

using namespace tavrel::testing;

struct Screen {
    int width;
    int height;
};

class InputsDialogTest : public ProgramTest, public ::testing::WithParamInterface<Screen> {
protected:
    // Adds an input through the editing dialog: its kind (0 serial, 1 tcp,
    // 2 udp), where it is, its name, whom it stands by for (0 nobody, 1
    // the main input, 2 input 1) and its start-up command.
    void AddInput(HWND inputs, int kind, const std::u16string& place, const std::u16string& name, int standby,
                  const std::u16string& init = u"")
    {
        person_.Click(inputs, IDC_INPUT_ADD);
        const HWND editor = person_.WaitForWindow(u"Edit Input");
        ASSERT_NE(editor, nullptr);
        person_.Choose(editor, IDC_INPUT_KIND, kind);
        EXPECT_EQ(person_.Enabled(editor, IDC_INPUT_BAUD), kind == 0);
        EXPECT_EQ(person_.Enabled(editor, IDC_INPUT_GROUP), kind == 2);
        EXPECT_EQ(person_.Enabled(editor, IDC_INPUT_INIT), kind != 2);
        person_.Type(editor, IDC_INPUT_INIT, init);
        person_.Type(editor, IDC_INPUT_PLACE, place);
        person_.Type(editor, IDC_INPUT_NAME, name);
        person_.Choose(editor, IDC_INPUT_STANDBY, standby);
        const size_t before = person_.Entries(inputs, IDC_INPUT_LIST).size();
        person_.PressCaptionOk(editor);
        EXPECT_TRUE(person_.WaitForNoWindow(u"Edit Input"));
        // The list takes the entry after the editor has gone: wait for it.
        EXPECT_TRUE(person_.WaitUntil([&] { return person_.Entries(inputs, IDC_INPUT_LIST).size() == before + 1; }));
    }
};

TEST_P(InputsDialogTest, InputsAreAddedInTheWindowAndStoredWithOk)
{
    person_.SetScreenSize(GetParam().width, GetParam().height);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Click(window, IDC_INPUTS);
    const HWND inputs = person_.WaitForWindow(u"Tavrel Inputs");
    ASSERT_NE(inputs, nullptr);
    ASSERT_EQ(person_.Entries(inputs, IDC_INPUT_LIST).size(), 1u);   // the main input

    AddInput(inputs, 2, u"10110", u"AIS", 0);
    AddInput(inputs, 0, u"/dev/serial/by-id/usb-spare-if00", u"spare", 2, u"$PMTK220,200*2C");
    const std::vector<std::u16string> listed{
        person_.Entries(inputs, IDC_INPUT_LIST)[0], u"1  AIS: udp 10110",
        u"2  spare: serial /dev/serial/by-id/usb-spare-if00 4800 standby-for=1 init=$PMTK220,200*2C"};
    EXPECT_EQ(person_.Entries(inputs, IDC_INPUT_LIST), listed);

    // The spare stands by for the UDP input, which therefore stays, with the reason.
    person_.Choose(inputs, IDC_INPUT_LIST, 1);
    person_.Click(inputs, IDC_INPUT_REMOVE);
    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_NE(box->text.find(u"stands by for it"), std::u16string::npos);
    person_.Answer(*box);
    EXPECT_EQ(person_.Entries(inputs, IDC_INPUT_LIST), listed);
    person_.Choose(inputs, IDC_INPUT_LIST, 2);
    person_.Click(inputs, IDC_INPUT_REMOVE);
    EXPECT_EQ(person_.Entries(inputs, IDC_INPUT_LIST).size(), 2u);

    // The main input is set in the main window; here only its command is.
    person_.Choose(inputs, IDC_INPUT_LIST, 0);
    person_.Click(inputs, IDC_INPUT_EDIT);
    const HWND editor = person_.WaitForWindow(u"Edit Input");
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(person_.Enabled(editor, IDC_INPUT_PLACE));
    person_.Type(editor, IDC_INPUT_INIT, u"\\q");
    person_.PressCaptionOk(editor);
    const auto wrong = person_.WaitForMessageBox();
    ASSERT_TRUE(wrong.has_value());
    EXPECT_NE(wrong->text.find(u"\\q"), std::u16string::npos);
    person_.Answer(*wrong);
    EXPECT_TRUE(person_.WaitUntil([&] { return person_.MessageBoxes().empty(); }));
    person_.Type(editor, IDC_INPUT_INIT, u"\\xB5\\x62");
    person_.PressCaptionOk(editor);
    EXPECT_TRUE(person_.WaitForNoWindow(u"Edit Input"));
    person_.PressCaptionOk(inputs);
    EXPECT_TRUE(person_.WaitForNoWindow(u"Tavrel Inputs"));

    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    std::vector<std::string> problems;
    const ExtraInputs stored = ReadExtraInputs(key, problems);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "AIS");
    EXPECT_EQ(stored[0].port, 10110);
    EXPECT_EQ(AppSettings.extraInputs.size(), 1u);
    EXPECT_EQ(ReadInputInit(key, problems), "\xB5\x62");
    EXPECT_EQ(AppSettings.inputInit, "\xB5\x62");
}

INSTANTIATE_TEST_SUITE_P(Screens, InputsDialogTest, ::testing::Values(Screen{240, 320}, Screen{320, 240}),
                         [](const auto& named) {
                             return std::to_string(named.param.width) + "x" + std::to_string(named.param.height);
                         });

}  // namespace
