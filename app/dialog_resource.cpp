#include "app/dialog_resource.h"

#include <vector>

#include "app/program.h"

const DLGTEMPLATE* FindDialogTemplate(WORD id)
{
    HRSRC found = FindResourceW(ProgramInstance, MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? LoadResource(ProgramInstance, found) : nullptr;
    return static_cast<const DLGTEMPLATE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
}

bool ScreenIsPortrait()
{
    return GetSystemMetrics(SM_CYSCREEN) > GetSystemMetrics(SM_CXSCREEN);
}

std::u16string ItemText(HWND dialog, int id)
{
    const HWND item = GetDlgItem(dialog, id);
    std::vector<WCHAR> text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, u'\0');
    GetWindowTextW(item, text.data(), static_cast<int>(text.size()));
    return text.data();
}

INT_PTR RunDialog(WORD portrait, WORD landscape, DLGPROC procedure, LPARAM parameter)
{
    const DLGTEMPLATE* dialogTemplate = FindDialogTemplate(ScreenIsPortrait() ? portrait : landscape);
    if (dialogTemplate == nullptr) {
        return -1;
    }
    return DialogBoxIndirectParamW(ProgramInstance, dialogTemplate, nullptr, procedure, parameter);
}
