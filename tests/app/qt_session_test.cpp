// A whole session, played twice: once by the headless test driver and once
// by a person on the qt display with Qt's own mouse events on the widgets.
// Add COM5, start, stop, hide with OK, tap the tray icon, Exit: after every
// step both runs must see the same states through platform::input::Inspect.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractButton>

#include "app/tray_and_about.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "qt_person.h"
#include "relay/relay_control.h"
#include "resources/resource_ids.h"

namespace {

using namespace tavrel::testing;

// What a person does in the session; the two runs do it differently.
class Person {
public:
    virtual ~Person() = default;
    virtual void Choose(HWND dialog, int id, int index) = 0;
    virtual void Click(HWND dialog, int id) = 0;
    virtual void PressCaptionOk(HWND dialog) = 0;
    virtual void TapTrayIcon(HWND owner, UINT id) = 0;
    virtual bool WaitUntil(const std::function<bool()>& condition) = 0;
    // What the person sees: a window on the screen, the text on a button.
    virtual bool Sees(HWND window) = 0;
    virtual std::u16string Reads(HWND dialog, int id) = 0;
};

class HeadlessPerson final : public Person {
public:
    explicit HeadlessPerson(UserDriver& driver) : driver_(driver) {}
    void Choose(HWND dialog, int id, int index) override { driver_.Choose(dialog, id, index); }
    void Click(HWND dialog, int id) override { driver_.Click(dialog, id); }
    void PressCaptionOk(HWND dialog) override { driver_.PressCaptionOk(dialog); }
    void TapTrayIcon(HWND owner, UINT id) override { driver_.TapTrayIcon(owner, id); }
    bool WaitUntil(const std::function<bool()>& condition) override { return driver_.WaitUntil(condition); }
    bool Sees(HWND window) override { return driver_.Shown(window); }
    std::u16string Reads(HWND dialog, int id) override { return driver_.Text(dialog, id); }

private:
    UserDriver& driver_;
};

class PersonAtTheQtScreen final : public Person {
public:
    explicit PersonAtTheQtScreen(QtPerson& hands) : hands_(hands) {}
    void Choose(HWND dialog, int id, int index) override { hands_.ChooseEntry(GetDlgItem(dialog, id), index); }
    void Click(HWND dialog, int id) override { hands_.Click(GetDlgItem(dialog, id)); }
    void PressCaptionOk(HWND dialog) override { hands_.PressCaptionOk(dialog); }
    void TapTrayIcon(HWND owner, UINT id) override { hands_.TapTrayIcon(owner, id); }
    bool WaitUntil(const std::function<bool()>& condition) override { return hands_.WaitUntil(condition); }
    bool Sees(HWND window) override
    {
        const QWidget* widget = hands_.Screen().WidgetOf(window);
        return widget != nullptr && widget->isVisible();
    }
    std::u16string Reads(HWND dialog, int id) override
    {
        const auto* button = qobject_cast<QAbstractButton*>(hands_.Screen().WidgetOf(GetDlgItem(dialog, id)));
        return button != nullptr ? button->text().toStdU16String() : std::u16string();
    }

private:
    QtPerson& hands_;
};

std::string Utf8(const std::u16string& text)
{
    return std::string(text.begin(), text.end());   // the texts here are ASCII
}

// What the program shows at one moment, one line per window and control.
std::vector<std::string> Snapshot(HWND dialog)
{
    std::vector<std::string> lines;
    const auto window = platform::input::Inspect(dialog);
    if (!window) {
        lines.push_back("main window gone");
    } else {
        lines.push_back("main window '" + Utf8(window->text) + "' shown " + std::to_string(window->shown) +
                        " foreground " + std::to_string(window->foreground));
    }
    for (HWND child : platform::input::Children(dialog)) {
        const auto state = platform::input::Inspect(child);
        std::ostringstream line;
        line << state->id << " '" << Utf8(state->text) << "' [";
        for (const std::u16string& entry : state->entries) {
            line << Utf8(entry) << ";";
        }
        line << "] selection " << state->selection << " enabled " << state->enabled << " shown " << state->shown
             << " checked " << state->checked << " focused " << state->focused;
        lines.push_back(line.str());
    }
    lines.push_back("tray icons " + std::to_string(platform::input::TrayIcons().size()) + ", input panel up " +
                    std::to_string(platform::input::InputPanelUp()) + ", relaying " +
                    std::to_string(RelayControl.running.load()));
    return lines;
}

int IndexOf(HWND dialog, int id, const std::u16string& entry)
{
    const auto entries = platform::input::Inspect(GetDlgItem(dialog, id))->entries;
    return static_cast<int>(std::find(entries.begin(), entries.end(), entry) - entries.begin());
}

std::vector<std::vector<std::string>> PlaySession(Person& person, HWND dialog, ProgramRun& program)
{
    std::vector<std::vector<std::string>> seen{Snapshot(dialog)};
    person.Choose(dialog, IDC_FREE_OUTPUTS, IndexOf(dialog, IDC_FREE_OUTPUTS, u"COM5:"));
    seen.push_back(Snapshot(dialog));
    person.Click(dialog, IDC_ADD);
    seen.push_back(Snapshot(dialog));
    person.Click(dialog, IDC_START_STOP);
    EXPECT_TRUE(person.WaitUntil([&] { return person.Reads(dialog, IDC_START_STOP) == u"STOP SPLITTER"; }));
    seen.push_back(Snapshot(dialog));
    person.Click(dialog, IDC_START_STOP);
    EXPECT_TRUE(person.WaitUntil([&] { return person.Reads(dialog, IDC_START_STOP) == u"START SPLITTER"; }));
    seen.push_back(Snapshot(dialog));
    person.PressCaptionOk(dialog);
    EXPECT_TRUE(person.WaitUntil([&] { return !person.Sees(dialog); }));
    seen.push_back(Snapshot(dialog));
    person.TapTrayIcon(dialog, TrayIconId);
    EXPECT_TRUE(person.WaitUntil([&] { return person.Sees(dialog); }));
    seen.push_back(Snapshot(dialog));
    person.Click(dialog, IDC_EXIT);
    EXPECT_TRUE(program.WaitEnded());
    seen.push_back(Snapshot(dialog));
    return seen;
}

class QtSessionTest : public ProgramTest {};

TEST_F(QtSessionTest, APersonAtTheQtScreenSeesWhatTheHeadlessDriverSees)
{
    std::vector<std::vector<std::string>> headless;
    {
        const HWND dialog = Launch();
        ASSERT_NE(dialog, nullptr);
        HeadlessPerson person(person_);
        headless = PlaySession(person, dialog, *program_);
        ASSERT_EQ(WaitForExit(), 1);
    }
    ResetProgramState();

    QtTestApplication application;
    QtScreenInPlace screen(240, 320, 1);
    QtPerson hands(screen.screen());
    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(hands.Find(dialog), nullptr);
    PersonAtTheQtScreen person(hands);
    const std::vector<std::vector<std::string>> onScreen = PlaySession(person, dialog, *program_);
    EXPECT_EQ(WaitForExit(), 1);
    ASSERT_EQ(onScreen.size(), headless.size());
    for (std::size_t step = 0; step < headless.size(); ++step) {
        EXPECT_EQ(onScreen[step], headless[step]) << "after step " << step;
    }
}

}  // namespace
