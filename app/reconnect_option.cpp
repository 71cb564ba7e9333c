#include "app/reconnect_option.h"

#include "platform/user.h"
#include "resources/resource_ids.h"
#include "state/app_settings.h"

void ShowReconnectOption(HWND dialog)
{
    CheckDlgButton(dialog, IDC_RECONNECT, AppSettings.reconnect.load() != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void TakeReconnectOption(HWND dialog)
{
    AppSettings.reconnect.store(IsDlgButtonChecked(dialog, IDC_RECONNECT) == BST_CHECKED ? 1 : 0);
}
