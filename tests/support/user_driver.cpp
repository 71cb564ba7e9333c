#include "support/user_driver.h"

#include "platform/user.h"

namespace tavrel::testing {
namespace {

using platform::input::Inspect;
using platform::input::WindowState;

std::optional<HWND> Find(const std::u16string& caption)
{
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = Inspect(window);
        if (state && state->shown && state->text.find(caption) != std::u16string::npos) {
            return window;
        }
    }
    return std::nullopt;
}

std::u16string TextOfBox(HWND box)
{
    for (HWND child : platform::input::Children(box)) {
        const auto state = Inspect(child);
        if (state && state->className == u"STATIC") {
            return state->text;
        }
    }
    return {};
}

}  // namespace

UserDriver::UserDriver(int screenWidth, int screenHeight)
    : display_(std::make_shared<platform::HeadlessDisplay>(screenWidth, screenHeight, true)),
      previous_(platform::CurrentDisplay())
{
    platform::SetDisplay(display_);
}

UserDriver::~UserDriver()
{
    platform::SetDisplay(previous_);
}

void UserDriver::SetScreenSize(int width, int height)
{
    display_->SetScreenSize(width, height);
}

bool UserDriver::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const unsigned long long seen = display_->Changes();
        if (condition()) {
            return true;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= 0s) {
            return false;
        }
        // Changes wake the wait; a short cap catches state that moves without one.
        const auto wait = std::min<std::chrono::milliseconds>(std::chrono::duration_cast<std::chrono::milliseconds>(left), 50ms);
        display_->WaitForChange(seen, static_cast<unsigned>(wait.count()));
    }
}

HWND UserDriver::WaitForWindow(const std::u16string& caption, std::chrono::milliseconds timeout) const
{
    HWND found = nullptr;
    WaitUntil([&] {
        found = Find(caption).value_or(nullptr);
        return found != nullptr;
    }, timeout);
    if (found != nullptr) {
        Settle(found);
    }
    return found;
}

bool UserDriver::WaitForNoWindow(const std::u16string& caption, std::chrono::milliseconds timeout) const
{
    return WaitUntil([&] {
        for (HWND window : platform::input::TopLevelWindows()) {
            const auto state = Inspect(window);
            if (state && state->text.find(caption) != std::u16string::npos) {
                return false;
            }
        }
        return true;
    }, timeout);
}

HWND UserDriver::Control(HWND dialog, int id) const
{
    for (HWND child : platform::input::Children(dialog)) {
        const auto state = Inspect(child);
        if (state && state->id == id) {
            return child;
        }
    }
    return nullptr;
}

void UserDriver::Settle(HWND window) const
{
    platform::input::WaitForIdle(window, 10s);
}

void UserDriver::Click(HWND dialog, int id) const
{
    platform::input::Click(Control(dialog, id));
    Settle(dialog);
}

void UserDriver::Choose(HWND dialog, int id, int index) const
{
    platform::input::ChooseEntry(Control(dialog, id), index);
    Settle(dialog);
}

void UserDriver::DoubleClick(HWND dialog, int id, int index) const
{
    platform::input::DoubleClickEntry(Control(dialog, id), index);
    Settle(dialog);
}

void UserDriver::Type(HWND dialog, int id, const std::u16string& text) const
{
    platform::input::Type(Control(dialog, id), text);
    Settle(dialog);
}

void UserDriver::Focus(HWND dialog, int id) const
{
    platform::input::Focus(Control(dialog, id));
    Settle(dialog);
}

void UserDriver::PressKey(HWND window, WPARAM key) const
{
    platform::input::PressKey(window, key);
    Settle(window);
}

void UserDriver::PressCaptionOk(HWND window) const
{
    platform::input::PressCaptionOk(window);
    Settle(window);
}

void UserDriver::Close(HWND window) const
{
    platform::input::Close(window);
    Settle(window);
}

void UserDriver::TapTrayIcon(HWND owner, UINT id) const
{
    platform::input::TapTrayIcon(owner, id);
    Settle(owner);
}

std::vector<UserDriver::MessageBox> UserDriver::MessageBoxes() const
{
    std::vector<MessageBox> boxes;
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = Inspect(window);
        if (state && state->isMessageBox && state->shown) {
            boxes.push_back(MessageBox{window, state->owner, TextOfBox(window), state->text, state->messageBoxType});
        }
    }
    return boxes;
}

std::optional<UserDriver::MessageBox> UserDriver::WaitForMessageBox(std::chrono::milliseconds timeout) const
{
    std::optional<MessageBox> found;
    WaitUntil([&] {
        const auto boxes = MessageBoxes();
        if (!boxes.empty()) {
            found = boxes.front();
        }
        return found.has_value();
    }, timeout);
    if (found) {
        Settle(found->window);
    }
    return found;
}

void UserDriver::Answer(const MessageBox& box, int button) const
{
    platform::input::Click(Control(box.window, button));
}

WindowState UserDriver::State(HWND window) const
{
    return Inspect(window).value_or(WindowState{});
}

WindowState UserDriver::State(HWND dialog, int id) const
{
    return State(Control(dialog, id));
}

std::u16string UserDriver::Text(HWND dialog, int id) const
{
    return State(dialog, id).text;
}

std::vector<std::u16string> UserDriver::Entries(HWND dialog, int id) const
{
    return State(dialog, id).entries;
}

int UserDriver::Selection(HWND dialog, int id) const
{
    return State(dialog, id).selection;
}

bool UserDriver::Checked(HWND dialog, int id) const
{
    return State(dialog, id).checked;
}

bool UserDriver::Enabled(HWND dialog, int id) const
{
    return State(dialog, id).enabled;
}

bool UserDriver::Shown(HWND window) const
{
    return State(window).shown;
}

HWND UserDriver::Foreground() const
{
    return platform::input::Foreground();
}

}  // namespace tavrel::testing
