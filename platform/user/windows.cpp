// Creating and destroying windows, their text, enabled and visible states,
// focus and foreground, the default window procedure, and EnumWindows.
#include <algorithm>
#include <unistd.h>

#include "platform/display.h"
#include "platform/fail_with.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "session/device_session.h"
#include "user/message_queue.h"
#include "user/window_factory.h"
#include "user/window_procedures.h"

namespace platform::user {
namespace {

constexpr DWORD kInvalidWindow = 1400;      // ERROR_INVALID_WINDOW_HANDLE
constexpr DWORD kNoSuchClass = 1407;        // ERROR_CANNOT_FIND_WND_CLASS

std::u16string UpperCase(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return text;
}

bool IsTopLevel(const Window& window)
{
    return (window.style & WS_CHILD) == 0;
}

// The newest visible top-level window, to take the foreground from one that went.
HWND NewestShownTopLevelLocked(HWND except)
{
    for (HWND handle : TopLevelWindowsLocked()) {
        const Window* window = FindLocked(handle);
        if (handle != except && window->visible) {
            return handle;
        }
    }
    return nullptr;
}

std::optional<std::u16string> RemoteTitle(HWND window)
{
    for (const session::PublishedWindow& published : session::OtherProcessesWindows()) {
        if (published.handle == window) {
            return published.title;
        }
    }
    return std::nullopt;
}

void DestroyOne(HWND window)
{
    if (const auto queue = CurrentQueue()) {
        queue->KillTimersOf(window);
    }
    CallWindowProcedure(window, WM_DESTROY, 0, 0);
    const bool topLevel = ReadWindow<bool>(window, IsTopLevel).value_or(false);
    {
        std::lock_guard guard(TableLock());
        if (ForegroundLocked() == window) {
            SetForegroundLocked(NewestShownTopLevelLocked(window));
        }
    }
    RemoveWindow(window);
    if (topLevel) {
        PublishTopLevelWindows();
    }
}

// The windows to destroy with this one: its children and owned windows, deepest first.
std::vector<HWND> DescendantsLocked(HWND window)
{
    std::vector<HWND> found;
    std::vector<HWND> pending{window};
    while (!pending.empty()) {
        const HWND current = pending.back();
        pending.pop_back();
        found.push_back(current);
        for (HWND handle : TopLevelWindowsLocked()) {
            if (FindLocked(handle)->owner == current) {
                pending.push_back(handle);
            }
        }
        const Window* w = FindLocked(current);
        pending.insert(pending.end(), w->children.begin(), w->children.end());
    }
    std::reverse(found.begin(), found.end());
    return found;
}

}  // namespace

WindowKind KindOfClass(const std::u16string& className, bool& known)
{
    const std::u16string name = UpperCase(className);
    known = true;
    if (name == u"BUTTON") {
        return WindowKind::Button;
    }
    if (name == u"COMBOBOX") {
        return WindowKind::ComboBox;
    }
    if (name == u"LISTBOX") {
        return WindowKind::ListBox;
    }
    if (name == u"STATIC") {
        return WindowKind::Static;
    }
    if (name == u"#32770" || name == u"DIALOG") {
        return WindowKind::Dialog;
    }
    known = false;
    return WindowKind::Static;
}

HWND MakeWindow(Window window)
{
    window.thread = GetCurrentThreadId();
    window.enabled = (window.style & WS_DISABLED) == 0;
    window.visible = (window.style & WS_VISIBLE) != 0;
    CurrentQueue();   // the thread that owns a window has a queue
    const bool topLevel = IsTopLevel(window);
    const HWND handle = AddWindow(std::move(window));
    if (handle == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (topLevel) {
        PublishTopLevelWindows();
    }
    return handle;
}

LRESULT DefaultProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<const WCHAR*>(lParam);
        const bool topLevel = ReadWindow<bool>(window, IsTopLevel).value_or(false);
        ChangeWindow(window, [text](Window& w) { w.text = text != nullptr ? text : u""; });
        if (topLevel) {
            PublishTopLevelWindows();
        }
        return TRUE;
    }
    case WM_GETTEXT: {
        const auto text = ReadWindow<std::u16string>(window, [](const Window& w) { return w.text; });
        return CopyText(text.value_or(u""), wParam, lParam);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(
            ReadWindow<std::size_t>(window, [](const Window& w) { return w.text.size(); }).value_or(0));
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_INPUT_FOCUS:
        if (AcceptsInput(window)) {
            SetFocus(window);
        }
        return 0;
    default: return 0;
    }
}

LRESULT CopyText(const std::u16string& text, WPARAM size, LPARAM buffer)
{
    auto* destination = reinterpret_cast<WCHAR*>(buffer);
    if (destination == nullptr || size == 0) {
        return 0;
    }
    const std::size_t copied = std::min<std::size_t>(text.size(), size - 1);
    std::copy_n(text.begin(), copied, destination);
    destination[copied] = u'\0';
    return static_cast<LRESULT>(copied);
}

void NotifyParent(HWND control, WORD code)
{
    struct Origin {
        HWND parent;
        int id;
    };
    const auto origin = ReadWindow<Origin>(control, [](const Window& w) { return Origin{w.parent, w.id}; });
    if (origin && origin->parent != nullptr) {
        SendMessageW(origin->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(origin->id), code),
                     reinterpret_cast<LPARAM>(control));
    }
}

bool AcceptsInput(HWND window)
{
    std::lock_guard guard(TableLock());
    for (const Window* current = FindLocked(window); current != nullptr; current = FindLocked(current->parent)) {
        if (!current->enabled || !current->visible) {
            return false;
        }
    }
    return FindLocked(window) != nullptr;
}

}  // namespace platform::user

using namespace platform::user;
namespace session = platform::session;

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, void*, HINSTANCE, LPVOID)
{
    bool known = false;
    const WindowKind kind = KindOfClass(className != nullptr ? className : u"", known);
    if (!known || IS_INTRESOURCE(className)) {
        SetLastError(kNoSuchClass);
        return nullptr;
    }
    const bool child = (style & WS_CHILD) != 0;
    if ((child || parent != nullptr) && !IsLocalWindow(parent)) {
        SetLastError(kInvalidWindow);   // a child needs a parent, an owner must exist
        return nullptr;
    }
    Window window;
    window.kind = kind;
    window.className = className;
    window.style = style;
    window.exStyle = exStyle;
    window.text = windowName != nullptr ? windowName : u"";
    window.parent = child ? parent : nullptr;
    window.owner = child ? nullptr : parent;
    window.place = RECT{x, y, x + width, y + height};
    return MakeWindow(std::move(window));
}

BOOL DestroyWindow(HWND window)
{
    const auto thread = ReadWindow<DWORD>(window, [](const Window& w) { return w.thread; });
    if (!thread) {
        return platform::FailWith(1400, FALSE);
    }
    if (*thread != GetCurrentThreadId()) {
        return platform::FailWith(ERROR_ACCESS_DENIED, FALSE);   // only the owning thread destroys a window
    }
    std::vector<HWND> doomed;
    {
        std::lock_guard guard(TableLock());
        doomed = DescendantsLocked(window);
    }
    for (HWND handle : doomed) {
        DestroyOne(handle);
    }
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    if (IsLocalWindow(window)) {
        return TRUE;
    }
    return session::ProcessOfWindow(window) != static_cast<std::uint32_t>(::getpid()) && RemoteTitle(window).has_value();
}

int GetWindowTextW(HWND window, LPWSTR text, int maxCount)
{
    if (text == nullptr || maxCount <= 0) {
        return 0;
    }
    if (!IsLocalWindow(window)) {
        const auto title = RemoteTitle(window);
        text[0] = u'\0';
        return title ? static_cast<int>(CopyText(*title, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)))
                     : 0;
    }
    return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthW(HWND window)
{
    if (!IsLocalWindow(window)) {
        return static_cast<int>(RemoteTitle(window).value_or(u"").size());
    }
    return static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetWindowTextW(HWND window, LPCWSTR text)
{
    if (!IsLocalWindow(window)) {
        return platform::FailWith(1400, FALSE);
    }
    return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) > 0 ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable)
{
    bool wasDisabled = false;
    if (!ChangeWindow(window, [&](Window& w) {
            wasDisabled = !w.enabled;
            w.enabled = enable != FALSE;
        })) {
        return platform::FailWith(1400, FALSE);
    }
    if (wasDisabled == (enable != FALSE)) {
        SendMessageW(window, WM_ENABLE, static_cast<WPARAM>(enable != FALSE), 0);
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window)
{
    return ReadWindow<bool>(window, [](const Window& w) { return w.enabled; }).value_or(false) ? TRUE : FALSE;
}

BOOL ShowWindow(HWND window, int command)
{
    const bool show = command != SW_HIDE;
    bool wasVisible = false;
    bool topLevel = false;
    {
        std::lock_guard guard(TableLock());
        Window* found = FindLocked(window);
        if (found == nullptr) {
            return platform::FailWith(1400, FALSE);
        }
        wasVisible = found->visible;
        topLevel = (found->style & WS_CHILD) == 0;
        found->visible = show;
        if (topLevel && show) {
            SetForegroundLocked(window);   // showing a window activates it
        } else if (!show && ForegroundLocked() == window) {
            SetForegroundLocked(NewestShownTopLevelLocked(window));
        }
    }
    NotifyChanged(window);
    if (wasVisible != show) {
        SendMessageW(window, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window)
{
    std::lock_guard guard(TableLock());
    const Window* current = FindLocked(window);
    if (current == nullptr) {
        return FALSE;
    }
    for (; current != nullptr; current = FindLocked(current->parent)) {
        if (!current->visible) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL SetForegroundWindow(HWND window)
{
    {
        std::lock_guard guard(TableLock());
        const Window* found = FindLocked(window);
        if (found == nullptr) {
            return FALSE;
        }
        HWND topLevel = window;
        for (const Window* current = found; current != nullptr; current = FindLocked(current->parent)) {
            topLevel = current->handle;
        }
        SetForegroundLocked(topLevel);
    }
    NotifyChanged(window);
    return TRUE;
}

HWND GetForegroundWindow()
{
    std::lock_guard guard(TableLock());
    return ForegroundLocked();
}

namespace {

// On the device every thread keeps its own input state, so a focus change
// never waits for another thread: a message box on the relay worker must not
// hang while the window thread is blocked in a wait. The other thread learns
// of the change when it next reads its queue.
void TellFocusChange(HWND target, UINT message, HWND other)
{
    NotifyChanged(target);
    const auto thread = ReadWindow<DWORD>(target, [](const Window& w) { return w.thread; });
    if (thread && *thread == GetCurrentThreadId()) {
        SendMessageW(target, message, reinterpret_cast<WPARAM>(other), 0);
    } else {
        PostMessageW(target, message, reinterpret_cast<WPARAM>(other), 0);
    }
}

}  // namespace

HWND SetFocus(HWND window)
{
    HWND previous = nullptr;
    {
        std::lock_guard guard(TableLock());
        if (window != nullptr && FindLocked(window) == nullptr) {
            SetLastError(1400);
            return nullptr;
        }
        previous = FocusLocked();
        if (previous == window) {
            return previous;
        }
        SetFocusLocked(window);
    }
    if (previous != nullptr && IsLocalWindow(previous)) {
        TellFocusChange(previous, WM_KILLFOCUS, window);
    }
    if (window != nullptr) {
        TellFocusChange(window, WM_SETFOCUS, previous);
    }
    return previous;
}

HWND GetFocus()
{
    std::lock_guard guard(TableLock());
    return FocusLocked();
}

HWND GetParent(HWND window)
{
    return ReadWindow<HWND>(window, [](const Window& w) { return w.parent != nullptr ? w.parent : w.owner; })
        .value_or(nullptr);
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter)
{
    if (callback == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::vector<session::PublishedWindow> all = session::OtherProcessesWindows();
    {
        std::lock_guard guard(TableLock());
        for (HWND handle : TopLevelWindowsLocked()) {
            const Window* window = FindLocked(handle);
            all.push_back({handle, window->text, window->order});
        }
    }
    // Newest first, as the top of the stack of windows comes first.
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.order > b.order; });
    for (const session::PublishedWindow& window : all) {
        if (!callback(window.handle, parameter)) {
            return FALSE;
        }
    }
    return TRUE;
}

int GetSystemMetrics(int index)
{
    const auto display = platform::CurrentDisplay();
    switch (index) {
    case SM_CXSCREEN: return display->ScreenWidth();
    case SM_CYSCREEN: return display->ScreenHeight();
    default: return 0;
    }
}

void InitCommonControls()
{
    // The common controls are always there.
}
