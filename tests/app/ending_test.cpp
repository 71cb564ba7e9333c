// Every way of ending the program ends it as closing its window does, also
// while something waits for a person who does not answer: a message box of the
// relay worker while the window waits for the start, a box of the window's own
// thread, or the About box. A signal (through the process's signal watch) and
// the display going away end it the same way, on the headless display and on
// the qt display: the boxes answered, the About box closed, the relay stopped,
// the settings saved, WinMain's result the one of a closed window.
#include <signal.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/program_ending.h"
#include "platform/timer_clock.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "qt_person.h"
#include "resources/resource_ids.h"
#include "runtime/termination_watch.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

constexpr int kOutput = 5;
// What is waiting for the person when the program is told to end.
enum class Waiting { WorkerBoxWhileStarting, WindowBox, AboutBox };
enum class Screen { Headless, Qt };
// A signal, or 0: the display goes away.
constexpr int kDisplayGoes = 0;

std::string NameOf(Waiting waiting)
{
    switch (waiting) {
    case Waiting::WorkerBoxWhileStarting: return "WorkerBoxWhileStarting";
    case Waiting::WindowBox: return "WindowBox";
    case Waiting::AboutBox: return "AboutBox";
    }
    return {};
}

using Case = std::tuple<int, Screen, Waiting>;

class EndingTest : public ProgramTest, public ::testing::WithParamInterface<Case> {
protected:
    EndingTest()
    {
        if (std::get<Screen>(GetParam()) == Screen::Qt) {
            qtApplication_.emplace();
            qtScreen_.emplace(240, 320, 1);
        }
        // From here on a signal ends the program, as in a process whose device has booted.
        EXPECT_FALSE(watch_.BootEnded().has_value());
    }

    // Brings up what waits for the person; the window that shows it.
    HWND MakeThePersonWait(HWND dialog)
    {
        AddOutputs(dialog, {kOutput});
        switch (std::get<Waiting>(GetParam())) {
        case Waiting::WorkerBoxWhileStarting:
            // No device is COM7: the worker's box shows while the window waits for its report.
            person_.Type(dialog, IDC_INPUT_PORT, u"COM7");
            PressWithoutWaiting(dialog, IDC_START_STOP);
            return BoxSaying(u"Unable to open input port");
        case Waiting::WindowBox:
            person_.Type(dialog, IDC_INPUT_PORT, u"PORT4");
            PressWithoutWaiting(dialog, IDC_START_STOP);
            return BoxSaying(u"Please, choose a serial port from the list or enter manually one COMx");
        case Waiting::AboutBox:
            EXPECT_TRUE(StartRelaying(dialog));
            EXPECT_TRUE(PortLinkExists(kOutput));
            person_.Click(dialog, IDC_ABOUT);
            return person_.WaitForWindow(u"About Tavrel");
        }
        return nullptr;
    }

    HWND BoxSaying(const std::u16string& text) const
    {
        const auto box = person_.WaitForMessageBox();
        EXPECT_TRUE(box.has_value());
        EXPECT_EQ(box ? box->text : u"", text);
        return box ? box->window : nullptr;
    }

    // What the person sees: on the qt display, the window on its screen.
    bool Seen(HWND window)
    {
        if (!qtScreen_) {
            return person_.Shown(window);
        }
        QtPerson hands(qtScreen_->screen());
        return hands.Find(window) != nullptr;
    }

    void EndTheProgram()
    {
        const int signal = std::get<0>(GetParam());
        if (signal != kDisplayGoes) {
            ASSERT_EQ(::kill(::getpid(), signal), 0);
            return;
        }
        // As the qt session does when Qt ends the process for a display that went away.
        EXPECT_TRUE(platform::EndProgram([this](std::chrono::milliseconds wait) { return program_->WaitEnded(wait); },
                                         30s));
    }

    void ExpectEndedAsClosingTheWindow()
    {
        ASSERT_TRUE(program_->WaitEnded(30s)) << "the program still waits for a person";
        EXPECT_EQ(program_->ExitCode(), 1);
        EXPECT_EQ(UserNumber(u"Split"), 1u << (kOutput + 1));
        EXPECT_FALSE(PortLinkExists(kOutput));
        EXPECT_TRUE(platform::input::TrayIcons().empty());
        EXPECT_TRUE(platform::input::TopLevelWindows().empty());
        EXPECT_TRUE(RelayControlEmpty());
    }

    // Nothing closes by itself: the About box waits as long as any box.
    platform::HeldTimerClock clock_;
    std::optional<QtTestApplication> qtApplication_;
    std::optional<QtScreenInPlace> qtScreen_;
    platform::TerminationWatch watch_;
};

TEST_P(EndingTest, EndsTheProgramAsClosingItsWindowDoesWhileAPersonIsAwaited)
{
    const HWND dialog = Launch();
    ASSERT_NE(dialog, nullptr);
    const HWND waiting = MakeThePersonWait(dialog);
    ASSERT_NE(waiting, nullptr);
    ASSERT_TRUE(Seen(waiting));

    EndTheProgram();
    ExpectEndedAsClosingTheWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Endings, EndingTest,
    ::testing::Combine(::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT, kDisplayGoes),
                       ::testing::Values(Screen::Headless, Screen::Qt),
                       ::testing::Values(Waiting::WorkerBoxWhileStarting, Waiting::WindowBox, Waiting::AboutBox)),
    [](const auto& named) {
        const int signal = std::get<0>(named.param);
        return std::string(signal == kDisplayGoes ? "DisplayGoes" : sigabbrev_np(signal)) +
               (std::get<Screen>(named.param) == Screen::Qt ? "OnQt" : "OnHeadless") +
               NameOf(std::get<Waiting>(named.param));
    });

}  // namespace

// Before any thread starts, so that every thread of the test leaves the
// termination signals to the watch, as the process entry arranges it.
int main(int argc, char** argv)
{
    const sigset_t ending = platform::TerminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
