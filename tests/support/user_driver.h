// A person in front of the headless display: finds windows, clicks, chooses,
// types, taps the tray, answers message boxes, and reads what the windows
// show. Every action goes through the display's input path and then waits
// until the window's thread has handled it (or has gone into a loop that
// waits, such as a modal dialog's).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/display.h"
#include "platform/user_input.h"

namespace tavrel::testing {

using namespace std::chrono_literals;

class UserDriver {
public:
    // Puts a headless display with a person in front of it in place; the
    // previous display comes back at the end.
    explicit UserDriver(int screenWidth = 240, int screenHeight = 320);
    ~UserDriver();
    UserDriver(const UserDriver&) = delete;
    UserDriver& operator=(const UserDriver&) = delete;

    void SetScreenSize(int width, int height);

    // The newest shown top-level window whose caption contains `caption`.
    HWND WaitForWindow(const std::u16string& caption, std::chrono::milliseconds timeout = 20s) const;
    // True once no top-level window with that caption is left.
    bool WaitForNoWindow(const std::u16string& caption, std::chrono::milliseconds timeout = 20s) const;
    // Waits until `condition` holds, looking again at every change on the display.
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) const;

    HWND Control(HWND dialog, int id) const;

    void Click(HWND dialog, int id) const;
    void Choose(HWND dialog, int id, int index) const;
    // A double tap on a list box's entry.
    void DoubleClick(HWND dialog, int id, int index) const;
    void Type(HWND dialog, int id, const std::u16string& text) const;
    void Focus(HWND dialog, int id) const;
    void PressCaptionOk(HWND window) const;
    // A key (VK_RETURN, VK_ESCAPE) pressed while `window` has the focus.
    void PressKey(HWND window, WPARAM key) const;
    void Close(HWND window) const;
    void TapTrayIcon(HWND owner, UINT id) const;

    // A shown message box, the newest, with its text and caption.
    struct MessageBox {
        HWND window;
        HWND owner;
        std::u16string text;
        std::u16string caption;
        UINT type;
    };
    std::optional<MessageBox> WaitForMessageBox(std::chrono::milliseconds timeout = 20s) const;
    std::vector<MessageBox> MessageBoxes() const;
    // Presses the box's button with that id (IDOK, IDCANCEL ...).
    void Answer(const MessageBox& box, int button = 1) const;

    platform::input::WindowState State(HWND window) const;
    platform::input::WindowState State(HWND dialog, int id) const;
    std::u16string Text(HWND dialog, int id) const;
    std::vector<std::u16string> Entries(HWND dialog, int id) const;
    int Selection(HWND dialog, int id) const;
    bool Checked(HWND dialog, int id) const;
    bool Enabled(HWND dialog, int id) const;
    bool Shown(HWND window) const;
    HWND Foreground() const;

private:
    void Settle(HWND window) const;

    std::shared_ptr<platform::HeadlessDisplay> display_;
    std::shared_ptr<platform::Display> previous_;
};

}  // namespace tavrel::testing
