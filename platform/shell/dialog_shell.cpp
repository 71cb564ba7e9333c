// SHInitDialog and the soft input panel.
#include <atomic>

#include "platform/display.h"
#include "platform/kernel.h"
#include "platform/shell.h"
#include "platform/user.h"
#include "shell/shell_state.h"
#include "user/window_table.h"

namespace platform::shell {
namespace {

std::atomic<bool> inputPanelUp{false};

void SetInputPanel(bool up)
{
    inputPanelUp = up;
    CurrentDisplay()->WindowChanged(nullptr);
}

}  // namespace

bool InputPanelUp()
{
    return inputPanelUp;
}

}  // namespace platform::shell

BOOL SHInitDialog(PSHINITDLGINFO info)
{
    using namespace platform;
    if (info == nullptr || !IsWindow(info->hDlg)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((info->dwMask & SHIDIM_FLAGS) == 0) {
        return TRUE;
    }
    const DWORD flags = info->dwFlags;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    user::ChangeWindow(info->hDlg, [&](user::Window& window) {
        if ((flags & SHIDIF_DONEBUTTON) != 0) {
            window.captionOk = true;
        }
        if ((flags & SHIDIF_SIZEDLGFULLSCREEN) != 0) {
            window.place = RECT{0, 0, width, height};
        }
    });
    if ((flags & SHIDIF_SIPDOWN) != 0) {
        shell::SetInputPanel(false);
    }
    return TRUE;
}

BOOL SHSipPreference(HWND window, SIPSTATE state)
{
    using namespace platform;
    if (window != nullptr && !IsWindow(window)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (state) {
    case SIP_UP: shell::SetInputPanel(true); return TRUE;
    case SIP_DOWN:
    case SIP_FORCEDOWN: shell::SetInputPanel(false); return TRUE;
    case SIP_UNCHANGED:
    case SIP_INPUTDIALOG: return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
