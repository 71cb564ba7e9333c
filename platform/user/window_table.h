// Every window of this process, under one lock. A window's state is read and
// changed only with the lock held and never while a window procedure runs, so
// the procedures of one thread and the readers of another (a display, a test
// driver) never see a half-made change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/user.h"
#include "platform/user_input.h"

namespace platform::user {

// Private messages through which a person's input reaches a window's thread.
inline constexpr UINT WM_INPUT_CLICK = 0x0390;
inline constexpr UINT WM_INPUT_CHOOSE = 0x0391;   // wParam: the entry
inline constexpr UINT WM_INPUT_CLEAR = 0x0392;    // empties an edit field
inline constexpr UINT WM_INPUT_FOCUS = 0x0393;
inline constexpr UINT WM_INPUT_DOUBLE_CLICK = 0x0394;   // wParam: the entry of a list box

using input::WindowKind;

struct Window {
    HWND handle = nullptr;
    DWORD thread = 0;
    WindowKind kind = WindowKind::Static;
    std::u16string className;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    std::u16string text;
    HWND parent = nullptr;
    HWND owner = nullptr;
    RECT place{};
    RECT templatePlace{};
    bool enabled = true;
    bool visible = false;
    DLGPROC dialogProcedure = nullptr;
    std::vector<std::u16string> entries;
    int selection = -1;
    bool checked = false;
    HICON icon = nullptr;
    bool captionOk = false;
    UINT messageBoxType = 0;
    bool isMessageBox = false;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
    std::uint64_t order = 0;
    std::vector<HWND> children;
};

std::mutex& TableLock();
// The window, or null; the lock must be held.
Window* FindLocked(HWND window);
bool IsLocalWindow(HWND window);

// Adds a window made by the calling thread and returns its new handle; null
// when the process holds as many windows as its quota allows.
HWND AddWindow(Window window);
// Removes the window from the table (its children are removed by the caller first).
void RemoveWindow(HWND window);

// Runs `read` on the window with the lock held; nothing when there is none.
template <typename Result>
std::optional<Result> ReadWindow(HWND window, const std::function<Result(const Window&)>& read)
{
    std::lock_guard guard(TableLock());
    const Window* found = FindLocked(window);
    return found == nullptr ? std::nullopt : std::optional<Result>(read(*found));
}
// Changes the window with the lock held, then tells the display; false when there is none.
bool ChangeWindow(HWND window, const std::function<void(Window&)>& change);

// Top-level windows of this process, newest first.
std::vector<HWND> TopLevelWindowsLocked();

// Focus and foreground, held for the whole process.
HWND FocusLocked();
void SetFocusLocked(HWND window);
HWND ForegroundLocked();
void SetForegroundLocked(HWND window);

// Tells the display; call with the lock released.
void NotifyChanged(HWND window);

// Shows the other processes of the device this process's top-level windows
// as they are now; calls from several threads publish in the order in which
// they read the table. Call with the table's lock released.
void PublishTopLevelWindows();

}  // namespace platform::user
