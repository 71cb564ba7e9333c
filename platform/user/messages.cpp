// Posting, sending, getting and dispatching messages; timers; the default
// window procedure.
#include <unistd.h>

#include "platform/kernel.h"
#include "platform/user.h"
#include "session/device_session.h"
#include "user/message_queue.h"
#include "user/window_procedures.h"

namespace platform::user {
namespace {

constexpr DWORD kInvalidWindow = 1400;   // ERROR_INVALID_WINDOW_HANDLE

std::optional<DWORD> OwnerThread(HWND window)
{
    return ReadWindow<DWORD>(window, [](const Window& w) { return w.thread; });
}

bool IsOtherProcess(HWND window)
{
    return window != nullptr && session::ProcessOfWindow(window) != static_cast<std::uint32_t>(::getpid());
}

BOOL PostLocal(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<ThreadQueue> queue;
    if (window == nullptr) {
        queue = CurrentQueue();
    } else if (const auto thread = OwnerThread(window)) {
        queue = QueueOfThread(*thread);
    }
    if (queue == nullptr) {
        SetLastError(kInvalidWindow);
        return FALSE;
    }
    queue->Post(MSG{window, message, wParam, lParam, GetTickCount(), POINT{0, 0}});
    return TRUE;
}

BOOL TakeMessage(LPMSG message, HWND window, UINT first, UINT last, bool wait, bool remove)
{
    if (message == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return CurrentQueue()->Take(*message, ThreadQueue::Filter{window, first, last}, wait, remove) ? TRUE : FALSE;
}

}  // namespace

LRESULT CallWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto kind = ReadWindow<WindowKind>(window, [](const Window& w) { return w.kind; });
    if (!kind) {
        return 0;
    }
    switch (*kind) {
    case WindowKind::Dialog:
    case WindowKind::MessageBox: return DialogProcedure(window, message, wParam, lParam);
    case WindowKind::Button: return ButtonProcedure(window, message, wParam, lParam);
    case WindowKind::ComboBox: return ComboBoxProcedure(window, message, wParam, lParam);
    case WindowKind::ListBox: return ListBoxProcedure(window, message, wParam, lParam);
    case WindowKind::Static: return StaticProcedure(window, message, wParam, lParam);
    }
    return 0;
}

}  // namespace platform::user

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    using namespace platform::user;
    if (IsOtherProcess(window)) {
        if (!platform::session::PostToOtherProcess(window, message, wParam, lParam)) {
            SetLastError(kInvalidWindow);
            return FALSE;
        }
        return TRUE;
    }
    return PostLocal(window, message, wParam, lParam);
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    using namespace platform::user;
    const auto thread = OwnerThread(window);
    if (!thread) {
        SetLastError(kInvalidWindow);
        return 0;
    }
    if (*thread == GetCurrentThreadId()) {
        return CallWindowProcedure(window, message, wParam, lParam);
    }
    // Another thread's window: its own loop runs the message, and this thread
    // waits for the result, as on the device.
    const std::shared_ptr<ThreadQueue> queue = QueueOfThread(*thread);
    if (queue == nullptr) {
        SetLastError(kInvalidWindow);
        return 0;
    }
    return queue->Send([=] { return CallWindowProcedure(window, message, wParam, lParam); });
}

BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax)
{
    const BOOL got = platform::user::TakeMessage(message, window, filterMin, filterMax, true, true);
    return got == TRUE && message->message == WM_QUIT ? FALSE : got;
}

BOOL PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove)
{
    return platform::user::TakeMessage(message, window, filterMin, filterMax, false, (remove & PM_REMOVE) != 0);
}

BOOL TranslateMessage(const MSG*)
{
    return FALSE;   // there is no keyboard that needs translating
}

LRESULT DispatchMessageW(const MSG* message)
{
    using namespace platform::user;
    if (message == nullptr) {
        return 0;
    }
    if (message->message == WM_TIMER && message->lParam != 0) {
        const auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
        // Only a timer that still exists is called; one killed meanwhile is not.
        if (CurrentQueue()->HasTimer(message->hwnd, message->wParam, procedure)) {
            procedure(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
        }
        return 0;
    }
    return message->hwnd == nullptr ? 0 : CallWindowProcedure(message->hwnd, message->message, message->wParam,
                                                               message->lParam);
}

void PostQuitMessage(int exitCode)
{
    platform::user::CurrentQueue()->PostQuit(exitCode);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure)
{
    using namespace platform::user;
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    if (window != nullptr) {
        const auto thread = OwnerThread(window);
        queue = thread ? QueueOfThread(*thread) : nullptr;
        if (queue == nullptr || *thread != GetCurrentThreadId()) {
            SetLastError(kInvalidWindow);   // a window's timers belong to its own thread
            return 0;
        }
    }
    return queue->SetTimer(window, id, elapse, procedure);
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    using namespace platform::user;
    if (!CurrentQueue()->KillTimer(window, id)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return platform::user::DefaultProcedure(window, message, wParam, lParam);
}
