// Modal dialogs from templates, the dialog manager's calls, and the default
// dialog procedure.
#include <algorithm>
#include <limits>

#include "platform/fail_with.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "user/dialogs.h"
#include "user/message_queue.h"
#include "user/window_factory.h"
#include "user/window_procedures.h"

namespace platform::user {
namespace {

constexpr DWORD kControlNotFound = 1421;   // ERROR_CONTROL_ID_NOT_FOUND

// Dialog units to pixels with the base units of an 8-point system font, six
// pixels across a character and twelve down: a quarter and an eighth of those.
RECT ToPixels(short x, short y, short cx, short cy)
{
    auto across = [](int units) { return static_cast<LONG>(units * 6 / 4); };
    auto down = [](int units) { return static_cast<LONG>(units * 12 / 8); };
    return RECT{across(x), down(y), across(x + cx), down(y + cy)};
}

HWND MakeControl(HWND dialog, const DialogTemplateWriter::Item& item, HINSTANCE instance)
{
    bool known = false;
    Window control;
    control.kind = KindOfClass(item.className, known);
    if (!known) {
        SetLastError(1407);   // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    control.className = item.className;
    control.style = item.style | WS_CHILD;
    control.exStyle = item.exStyle;
    control.id = item.id;
    control.parent = dialog;
    control.place = ToPixels(item.x, item.y, item.cx, item.cy);
    control.templatePlace = RECT{item.x, item.y, item.x + item.cx, item.y + item.cy};
    if (item.textResource) {
        control.icon = LoadIconW(instance, MAKEINTRESOURCEW(*item.textResource));
    } else {
        control.text = item.text;
    }
    return MakeWindow(std::move(control));
}

// A dialog with DS_CENTER sits in the middle of the screen, wherever its template put it.
RECT PlaceOfDialog(const DialogTemplateContent& content)
{
    RECT place = ToPixels(content.x, content.y, content.cx, content.cy);
    if ((content.style & DS_CENTER) != 0) {
        const LONG width = place.right - place.left;
        const LONG height = place.bottom - place.top;
        place.left = std::max<LONG>(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
        place.top = std::max<LONG>(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
        place.right = place.left + width;
        place.bottom = place.top + height;
    }
    return place;
}

bool Ended(HWND dialog)
{
    return ReadWindow<bool>(dialog, [](const Window& w) { return w.dialogEnded; }).value_or(true);
}

// The first control that takes the focus: enabled, visible, a tab stop.
HWND FirstTabStop(HWND dialog)
{
    for (HWND control : ReadWindow<std::vector<HWND>>(dialog, [](const Window& w) { return w.children; })
                            .value_or(std::vector<HWND>{})) {
        const bool stop = ReadWindow<bool>(control, [](const Window& w) {
                              return (w.style & WS_TABSTOP) != 0 && w.enabled && w.visible;
                          }).value_or(false);
        if (stop) {
            return control;
        }
    }
    return nullptr;
}

bool IsWithin(HWND window, HWND dialog)
{
    std::lock_guard guard(TableLock());
    for (const Window* current = FindLocked(window); current != nullptr; current = FindLocked(current->parent)) {
        if (current->handle == dialog) {
            return true;
        }
    }
    return false;
}

}  // namespace

HWND CreateDialogWindow(const DialogTemplateContent& content, HINSTANCE instance, HWND owner, DLGPROC procedure)
{
    Window window;
    window.kind = WindowKind::Dialog;
    window.className = u"#32770";
    window.style = content.style & ~WS_VISIBLE;
    window.exStyle = content.exStyle;
    window.text = content.caption;
    window.owner = owner;
    window.place = PlaceOfDialog(content);
    window.templatePlace = RECT{content.x, content.y, content.x + content.cx, content.y + content.cy};
    window.dialogProcedure = procedure;
    window.captionOk = (content.exStyle & WS_EX_CAPTIONOKBTN) != 0;
    const HWND dialog = MakeWindow(std::move(window));
    if (dialog == nullptr) {
        return nullptr;
    }
    for (const DialogTemplateWriter::Item& item : content.items) {
        if (MakeControl(dialog, item, instance) == nullptr) {
            const DWORD error = GetLastError();
            DestroyWindow(dialog);
            return FailWith(error, nullptr);
        }
    }
    return dialog;
}

INT_PTR RunModalDialog(HWND dialog, LPARAM initParameter)
{
    const HWND focusBefore = GetFocus();
    const HWND first = FirstTabStop(dialog);
    if (CallWindowProcedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParameter)) {
        // A dialog without a control to take the focus takes it itself, so
        // that its keys (Enter, Esc) reach it rather than the window under it.
        SetFocus(first != nullptr ? first : dialog);
    }
    if (!Ended(dialog)) {
        ShowWindow(dialog, SW_SHOW);
    }
    while (!Ended(dialog)) {
        MSG message{};
        if (GetMessageW(&message, nullptr, 0, 0) == FALSE) {
            // WM_QUIT ends the modal loop and goes on to the loop outside it.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    const INT_PTR result = ReadWindow<INT_PTR>(dialog, [](const Window& w) { return w.dialogResult; }).value_or(0);
    DestroyWindow(dialog);
    // The focus that went with the dialog comes back to where it was, as when
    // the window under it is active again.
    if (GetFocus() == nullptr && focusBefore != nullptr && IsWindow(focusBefore)) {
        SetFocus(focusBefore);
    }
    return result;
}

LRESULT DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto procedure = ReadWindow<DLGPROC>(window, [](const Window& w) { return w.dialogProcedure; });
    if (procedure && *procedure != nullptr) {
        const BOOL handled = (*procedure)(window, message, wParam, lParam);
        if (handled || message == WM_INITDIALOG) {
            return handled;
        }
    }
    if (message == WM_CLOSE) {
        // A dialog is closed as if Cancel had been pressed.
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
        return 0;
    }
    return DefaultProcedure(window, message, wParam, lParam);
}

}  // namespace platform::user

using namespace platform::user;

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATE dialogTemplate, HWND owner, DLGPROC procedure,
                                LPARAM initParameter)
{
    if (dialogTemplate == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // As on the device, a template in memory is trusted to be as long as it says.
    const auto content = platform::ReadDialogTemplate(dialogTemplate, std::numeric_limits<std::size_t>::max());
    if (!content) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const HWND dialog = CreateDialogWindow(*content, instance, owner, procedure);
    return dialog == nullptr ? -1 : RunModalDialog(dialog, initParameter);
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    DWORD thread = 0;
    const bool ended = ChangeWindow(dialog, [&](Window& w) {
        if (w.kind == WindowKind::Dialog) {
            w.dialogEnded = true;
            w.dialogResult = result;
            thread = w.thread;
        }
    });
    if (!ended || thread == 0) {
        SetLastError(1400);
        return FALSE;
    }
    // Wakes the modal loop, which may be waiting for a message.
    if (const auto queue = QueueOfThread(thread)) {
        queue->Post(MSG{dialog, WM_NULL, 0, 0, GetTickCount(), POINT{0, 0}});
    }
    return TRUE;
}

BOOL IsDialogMessageW(HWND dialog, LPMSG message)
{
    if (message == nullptr || message->hwnd == nullptr || !IsWithin(message->hwnd, dialog)) {
        return FALSE;
    }
    if (message->message == WM_KEYDOWN && HandleDialogKey(dialog, *message)) {
        return TRUE;
    }
    TranslateMessage(message);
    DispatchMessageW(message);
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id)
{
    const auto children = ReadWindow<std::vector<HWND>>(dialog, [](const Window& w) { return w.children; });
    for (HWND child : children.value_or(std::vector<HWND>{})) {
        if (ReadWindow<int>(child, [](const Window& w) { return w.id; }) == id) {
            return child;
        }
    }
    SetLastError(kControlNotFound);
    return nullptr;
}

int GetDlgCtrlID(HWND control)
{
    return ReadWindow<int>(control, [](const Window& w) { return w.id; }).value_or(0);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? 0 : SendMessageW(control, message, wParam, lParam);
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text)
{
    const HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? FALSE : SetWindowTextW(control, text);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    const HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        return FALSE;
    }
    SendMessageW(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id)
{
    const HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? 0 : static_cast<UINT>(SendMessageW(control, BM_GETCHECK, 0, 0));
}
