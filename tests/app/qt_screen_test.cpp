// The program's dialogs as the qt display draws them on Qt's offscreen
// platform: the main window in both layouts and at two scales, the About box
// and a message box, each saved as a picture in the build's picture folder
// and checked against the layout of its template.
#include <tuple>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/tray_and_about.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "qt_screen_fixture.h"
#include "resources/resource_ids.h"

namespace {

using namespace tavrel::testing;

struct Layout {
    const char* name;
    int width;
    int height;
    WORD dialog;
};
const Layout kPortrait{"portrait", 240, 320, IDD_MAIN_PORTRAIT};
const Layout kLandscape{"landscape", 320, 240, IDD_MAIN_LANDSCAPE};

const DLGTEMPLATE* Template(WORD id)
{
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? LoadResource(GetModuleHandleW(nullptr), found) : nullptr;
    return static_cast<const DLGTEMPLATE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
}

HWND WindowCaptioned(const std::u16string& caption)
{
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = platform::input::Inspect(window);
        if (state && state->visible && state->text == caption) {
            return window;
        }
    }
    return nullptr;
}

class DialogPictures : public ProgramOnQtScreen, public ::testing::WithParamInterface<std::tuple<Layout, int>> {
protected:
    DialogPictures()
        : ProgramOnQtScreen(std::get<0>(GetParam()).width, std::get<0>(GetParam()).height, std::get<1>(GetParam()))
    {
    }

    std::string Name(const std::string& what) const
    {
        return what + "-" + std::get<0>(GetParam()).name + "-x" + std::to_string(std::get<1>(GetParam()));
    }

    HWND WaitForWindow(const std::u16string& caption)
    {
        HWND window = nullptr;
        hands_.WaitUntil([&] {
            window = WindowCaptioned(caption);
            return window != nullptr;
        });
        return window;
    }
};

TEST_P(DialogPictures, TheMainWindowIsDrawnAsItsTemplateLaysItOut)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    SavePicture(window, Name("main"));
    EXPECT_EQ(screen().windowTitle(), QStringLiteral("Tavrel V1.20"));
    ExpectDrawnAsLaidOut(screen(), window, Template(std::get<0>(GetParam()).dialog));
}

TEST_P(DialogPictures, TheAboutBoxAndAMessageBoxAreDrawnWithAllTheyHold)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    hands_.Click(GetDlgItem(window, IDC_ABOUT));
    const HWND about = WaitForWindow(u"About Tavrel");
    ASSERT_NE(about, nullptr);
    SavePicture(about, Name("about"));
    ExpectDrawnAsLaidOut(screen(), about, Template(IDD_ABOUT));
    // The text is a window of its own that the box owns, placed on the screen.
    const auto* text = qobject_cast<QLabel*>(screen().WidgetOf(OwnedWindows(about).front()));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->text().startsWith(QStringLiteral("Tavrel is FREE software.")));
    EXPECT_TRUE(screen().WidgetOf(about)->geometry().contains(text->geometry()));
    EXPECT_TRUE(text->isVisible());
    hands_.PressCaptionOk(about);
    ASSERT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(about) == std::nullopt; }));

    hands_.Click(GetDlgItem(window, IDC_INPUT_PORT));
    hands_.PressKey(GetDlgItem(window, IDC_INPUT_PORT), Qt::Key_A, Qt::ControlModifier);   // all of it
    hands_.Type(GetDlgItem(window, IDC_INPUT_PORT), QStringLiteral("PORT4"));
    EXPECT_EQ(platform::input::Inspect(GetDlgItem(window, IDC_INPUT_PORT))->text, u"PORT4");
    hands_.Click(GetDlgItem(window, IDC_START_STOP));
    const HWND box = WaitForWindow(u"Tavrel");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(platform::input::Inspect(box)->isMessageBox);
    SavePicture(box, Name("message-box"));
    ExpectDrawnAsLaidOut(screen(), box, nullptr);
    hands_.Click(GetDlgItem(box, IDOK));
    EXPECT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(box) == std::nullopt; }));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DialogPictures,
                         ::testing::Combine(::testing::Values(kPortrait, kLandscape), ::testing::Values(1, 2)),
                         [](const auto& layout) {
                             return std::string(std::get<0>(layout.param).name) + "_x" +
                                    std::to_string(std::get<1>(layout.param));
                         });

}  // namespace
