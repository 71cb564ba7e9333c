// A person's input, queued to the window's own thread, and what the windows
// show, read under the window table's lock; the tray icons and the input
// panel come from the shell.
#include "platform/kernel.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "shell/shell_state.h"
#include "user/message_queue.h"
#include "user/window_table.h"

namespace platform::input {
namespace {

using user::Window;

void PostInput(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    PostMessageW(window, message, wParam, lParam);
}

bool ShownLocked(const Window& window)
{
    for (const Window* current = &window; current != nullptr; current = user::FindLocked(current->parent)) {
        if (!current->visible) {
            return false;
        }
    }
    return true;
}

WindowState StateOf(const Window& window)
{
    WindowState state;
    state.handle = window.handle;
    state.kind = window.kind;
    state.parent = window.parent;
    state.owner = window.owner;
    state.className = window.className;
    state.text = window.text;
    state.style = window.style;
    state.exStyle = window.exStyle;
    state.id = window.id;
    state.enabled = window.enabled;
    state.visible = window.visible;
    state.shown = ShownLocked(window);
    state.focused = user::FocusLocked() == window.handle;
    state.foreground = user::ForegroundLocked() == window.handle;
    state.captionOk = window.captionOk;
    state.entries = window.entries;
    state.selection = window.selection;
    state.checked = window.checked;
    state.place = window.place;
    state.templatePlace = window.templatePlace;
    state.icon = window.icon;
    state.messageBoxType = window.messageBoxType;
    state.isMessageBox = window.isMessageBox;
    return state;
}

}  // namespace

void Click(HWND control)
{
    PostInput(control, user::WM_INPUT_CLICK);
}

void ChooseEntry(HWND control, int index)
{
    PostInput(control, user::WM_INPUT_CHOOSE, static_cast<WPARAM>(index));
}

void DoubleClickEntry(HWND control, int index)
{
    PostInput(control, user::WM_INPUT_DOUBLE_CLICK, static_cast<WPARAM>(index));
}

void Type(HWND control, const std::u16string& text, bool replace)
{
    if (replace) {
        PostInput(control, user::WM_INPUT_CLEAR);
    }
    for (char16_t c : text) {
        PostInput(control, WM_CHAR, c);
    }
}

void Focus(HWND control)
{
    PostInput(control, user::WM_INPUT_FOCUS);
}

void PressKey(HWND window, WPARAM virtualKey)
{
    PostInput(window, WM_KEYDOWN, virtualKey);
}

void PressCaptionOk(HWND window)
{
    const auto hasButton = user::ReadWindow<bool>(window, [](const Window& w) { return w.captionOk && w.enabled; });
    if (hasButton.value_or(false)) {
        PostInput(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
    }
}

void Close(HWND window)
{
    PostInput(window, WM_CLOSE);
}

void TapTrayIcon(HWND owner, UINT id)
{
    for (const TrayIcon& icon : shell::TrayIcons()) {
        if (icon.owner == owner && icon.id == id) {
            PostInput(owner, icon.callbackMessage, id, WM_LBUTTONDOWN);
            PostInput(owner, icon.callbackMessage, id, WM_LBUTTONUP);
        }
    }
}

std::optional<WindowState> Inspect(HWND window)
{
    std::lock_guard guard(user::TableLock());
    const Window* found = user::FindLocked(window);
    return found == nullptr ? std::nullopt : std::optional<WindowState>(StateOf(*found));
}

std::vector<HWND> TopLevelWindows()
{
    std::lock_guard guard(user::TableLock());
    return user::TopLevelWindowsLocked();
}

std::vector<HWND> Children(HWND window)
{
    return user::ReadWindow<std::vector<HWND>>(window, [](const Window& w) { return w.children; })
        .value_or(std::vector<HWND>{});
}

HWND ProgramWindow()
{
    HWND oldest = nullptr;
    for (HWND window : TopLevelWindows()) {   // newest first
        const auto state = Inspect(window);
        if (state && state->kind == WindowKind::Dialog && !state->isMessageBox) {
            oldest = window;
        }
    }
    return oldest;
}

HWND Foreground()
{
    return GetForegroundWindow();
}

std::vector<TrayIcon> TrayIcons()
{
    return shell::TrayIcons();
}

bool InputPanelUp()
{
    return shell::InputPanelUp();
}

bool WaitForIdle(HWND window, std::chrono::milliseconds timeout)
{
    const auto thread = user::ReadWindow<DWORD>(window, [](const Window& w) { return w.thread; });
    const auto queue = thread ? user::QueueOfThread(*thread) : nullptr;
    if (queue == nullptr) {
        return false;
    }
    // A window that went (its dialog ended) has had everything handled,
    // although its thread may not wait in a loop ever again.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (queue->WaitIdle(std::chrono::milliseconds(20)) || !user::IsLocalWindow(window)) {
            return true;
        }
    }
    return false;
}

}  // namespace platform::input
