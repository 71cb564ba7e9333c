// Enter and Esc in a dialog, as the dialog manager handles them: the dialog
// hears WM_COMMAND with the id of the button that the key stands for, as if
// that button had been pressed.
#include "platform/user.h"
#include "user/dialogs.h"
#include "user/window_procedures.h"

namespace platform::user {
namespace {

struct Control {
    HWND handle = nullptr;
    int id = 0;
};

bool IsPushButton(const Window& window)
{
    const DWORD type = window.style & BS_TYPEMASK;
    return window.kind == WindowKind::Button && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

void Press(HWND dialog, Control button)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(button.id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button.handle));
}

// The dialog's first child that `fits`; none when it has no such child.
template <typename Fits>
Control FindChild(HWND dialog, Fits fits)
{
    std::lock_guard guard(TableLock());
    const Window* parent = FindLocked(dialog);
    for (HWND child : parent != nullptr ? parent->children : std::vector<HWND>{}) {
        if (const Window* window = FindLocked(child); window != nullptr && fits(*window)) {
            return Control{child, window->id};
        }
    }
    return Control{};
}

bool HasCaptionOk(HWND dialog)
{
    return ReadWindow<bool>(dialog, [](const Window& w) { return w.captionOk; }).value_or(false);
}

// Enter: the push button that has the focus; else the default push button,
// which a disabled one keeps to itself; else OK, when the dialog has an OK
// button (among its controls or in its caption) that can be pressed.
void PressDefault(HWND dialog, HWND focus)
{
    const Control focused = FindChild(dialog, [focus](const Window& w) { return w.handle == focus && IsPushButton(w); });
    if (focused.handle != nullptr) {
        Press(dialog, focused);
        return;
    }
    const Control byStyle = FindChild(dialog, [](const Window& w) {
        return IsPushButton(w) && (w.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    });
    if (byStyle.handle != nullptr) {
        if (AcceptsInput(byStyle.handle)) {
            Press(dialog, byStyle);
        }
        return;
    }
    const Control ok = FindChild(dialog, [](const Window& w) { return w.id == IDOK; });
    if (ok.handle != nullptr ? AcceptsInput(ok.handle) : HasCaptionOk(dialog)) {
        Press(dialog, Control{ok.handle, IDOK});
    }
}

// Esc: Cancel, unless the dialog's Cancel button is disabled. A dialog
// without one hears it too (a message box with only OK answers OK).
void PressCancel(HWND dialog)
{
    const Control cancel = FindChild(dialog, [](const Window& w) { return w.id == IDCANCEL; });
    if (cancel.handle == nullptr || AcceptsInput(cancel.handle)) {
        Press(dialog, Control{cancel.handle, IDCANCEL});
    }
}

}  // namespace

bool HandleDialogKey(HWND dialog, const MSG& message)
{
    if (!AcceptsInput(dialog)) {
        return false;
    }
    switch (message.wParam) {
    case VK_RETURN: PressDefault(dialog, message.hwnd); return true;
    case VK_ESCAPE: PressCancel(dialog); return true;
    default: return false;
    }
}

}  // namespace platform::user
