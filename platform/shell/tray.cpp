// The notification tray: icons that other windows own; a tap posts the owner
// its callback message.
#include <algorithm>
#include <mutex>

#include "kernel/never_destroyed.h"
#include "platform/display.h"
#include "platform/kernel.h"
#include "platform/shell.h"
#include "shell/shell_state.h"

namespace platform::shell {
namespace {

struct Tray {
    std::mutex lock;
    std::vector<input::TrayIcon> icons;
};

Tray& TheTray()
{
    static NeverDestroyed<Tray> tray;
    return tray.get();
}

std::u16string TipOf(const NOTIFYICONDATAW& data)
{
    const auto end = std::find(std::begin(data.szTip), std::end(data.szTip), u'\0');
    return std::u16string(std::begin(data.szTip), end);
}

void Apply(input::TrayIcon& icon, const NOTIFYICONDATAW& data)
{
    if ((data.uFlags & NIF_MESSAGE) != 0) {
        icon.callbackMessage = data.uCallbackMessage;
    }
    if ((data.uFlags & NIF_ICON) != 0) {
        icon.icon = data.hIcon;
    }
    if ((data.uFlags & NIF_TIP) != 0) {
        icon.tip = TipOf(data);
    }
}

bool Change(DWORD action, const NOTIFYICONDATAW& data)
{
    Tray& tray = TheTray();
    std::lock_guard guard(tray.lock);
    const auto found = std::find_if(tray.icons.begin(), tray.icons.end(), [&](const input::TrayIcon& icon) {
        return icon.owner == data.hWnd && icon.id == data.uID;
    });
    switch (action) {
    case NIM_ADD:
        if (found != tray.icons.end()) {
            return false;
        }
        tray.icons.push_back(input::TrayIcon{data.hWnd, data.uID, 0, nullptr, u""});
        Apply(tray.icons.back(), data);
        return true;
    case NIM_MODIFY:
        if (found == tray.icons.end()) {
            return false;
        }
        Apply(*found, data);
        return true;
    case NIM_DELETE:
        if (found == tray.icons.end()) {
            return false;
        }
        tray.icons.erase(found);
        return true;
    default: return false;
    }
}

}  // namespace

std::vector<input::TrayIcon> TrayIcons()
{
    Tray& tray = TheTray();
    std::lock_guard guard(tray.lock);
    return tray.icons;
}

}  // namespace platform::shell

BOOL Shell_NotifyIconW(DWORD action, PNOTIFYICONDATAW data)
{
    if (data == nullptr || data->cbSize < sizeof(NOTIFYICONDATAW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!platform::shell::Change(action, *data)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::CurrentDisplay()->TrayChanged();
    return TRUE;
}
