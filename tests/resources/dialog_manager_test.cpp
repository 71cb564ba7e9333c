// The program's templates as the dialog manager builds them from the
// module's resources, on the headless display.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/resources.h"
#include "platform/user_input.h"
#include "resources/resource_ids.h"
#include "support/poke_until_ended.h"
#include "support/user_driver.h"

namespace {

using tavrel::testing::PokeUntilEnded;
using tavrel::testing::UserDriver;

BOOL EndOnCancel(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 1);
        return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// Runs the dialog of a template resource modally on its own thread, as the
// program's user-interface thread runs it.
class ResourceDialog {
public:
    explicit ResourceDialog(WORD id)
        : thread_([this, id] {
              const HMODULE program = GetModuleHandleW(nullptr);
              const HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(id), RT_DIALOG);
              const auto* dialogTemplate = static_cast<LPCDLGTEMPLATE>(LockResource(LoadResource(program, found)));
              result_ = DialogBoxIndirectParamW(program, dialogTemplate, nullptr, EndOnCancel, 0);
              ended_ = true;
          })
    {
    }
    // After a failed check the dialog may still run: close whatever is open
    // until it has ended.
    ~ResourceDialog()
    {
        if (thread_.joinable()) {
            PokeUntilEnded([this] { return ended_.load(); },
                           [] {
                               for (const HWND window : platform::input::TopLevelWindows()) {
                                   platform::input::Close(window);
                               }
                           },
                           "the resource dialog");
            thread_.join();
        }
    }
    ResourceDialog(const ResourceDialog&) = delete;
    ResourceDialog& operator=(const ResourceDialog&) = delete;

    INT_PTR Result()
    {
        thread_.join();
        return result_;
    }

private:
    std::atomic<INT_PTR> result_{0};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

TEST(ProgramDialogsOnScreen, AboutBoxShowsTheProgramIcon)
{
    UserDriver driver;
    ResourceDialog about(IDD_ABOUT);
    const HWND box = driver.WaitForWindow(u"About Tavrel");
    ASSERT_NE(box, nullptr);
    const auto children = platform::input::Children(box);
    ASSERT_EQ(children.size(), 1u);
    const auto icon = platform::input::Inspect(children[0]);
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->className, u"STATIC");
    EXPECT_EQ(icon->icon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM)));
    EXPECT_NE(icon->icon, nullptr);
    EXPECT_EQ(icon->templatePlace.left, 7);
    EXPECT_EQ(icon->templatePlace.bottom, 27);

    driver.Close(box);
    EXPECT_EQ(about.Result(), 1);
}

TEST(ProgramDialogsOnScreen, BothMainWindowLayoutsOpenWithEveryControl)
{
    UserDriver driver;
    for (const auto& [id, startText] : {std::pair<WORD, std::u16string>{IDD_MAIN_PORTRAIT, u"START SPLITTER"},
                                        std::pair<WORD, std::u16string>{IDD_MAIN_LANDSCAPE, u"START"}}) {
        ResourceDialog main(id);
        const HWND window = driver.WaitForWindow(u"Tavrel V1.20");
        ASSERT_NE(window, nullptr) << id;
        EXPECT_TRUE(driver.State(window).captionOk) << id;
        // The 14 of every Tavrel, Reconnect, Status, Inputs and Set.
        EXPECT_EQ(platform::input::Children(window).size(), 18u) << id;
        EXPECT_TRUE(driver.State(window, IDC_INPUT_PORT).focused) << id;   // the first tab stop
        EXPECT_EQ(driver.Text(window, IDC_START_STOP), startText) << id;
        EXPECT_EQ(driver.Text(window, IDC_EXIT), u"Exit") << id;
        EXPECT_EQ(driver.State(window, IDC_AUTOSTART).className, u"BUTTON") << id;
        EXPECT_EQ(driver.Text(window, IDC_RECONNECT), u"Reconnect") << id;
        EXPECT_EQ(driver.Text(window, IDC_STATUS), u"Status") << id;
        EXPECT_EQ(driver.Text(window, IDC_INPUTS), u"Inputs") << id;
        EXPECT_EQ(driver.State(window, IDC_OUTPUT_LIST).className, u"LISTBOX") << id;

        driver.Close(window);
        EXPECT_EQ(main.Result(), 1) << id;
        EXPECT_TRUE(driver.WaitForNoWindow(u"Tavrel V1.20")) << id;
    }
}

}  // namespace
