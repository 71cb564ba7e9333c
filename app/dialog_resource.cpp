#include "app/dialog_resource.h"

#include <vector>

#include "app/program.h"
#include "platform/message_box.h"
#include "platform/strings.h"

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

void AddChoice(HWND dialog, int id, const std::u16string& text)
{
    SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int Choice(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void Complain(const std::string& text)
{
    MessageBoxW(nullptr, platform::ToUtf16(text).c_str(), u"Tavrel", MB_OK | MB_ICONEXCLAMATION);
}

BOOL FormProcedure(HWND dialog, UINT message, WPARAM wParam, const FormHandlers& handlers)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == handlers.choice && HIWORD(wParam) == CBN_SELCHANGE) {
            handlers.changed(dialog);
        } else if (LOWORD(wParam) == IDOK && handlers.take(dialog)) {
            EndDialog(dialog, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_CLOSE: EndDialog(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
    }
}

INT_PTR RunDialog(WORD portrait, WORD landscape, DLGPROC procedure, LPARAM parameter)
{
    const DLGTEMPLATE* dialogTemplate = FindDialogTemplate(ScreenIsPortrait() ? portrait : landscape);
    if (dialogTemplate == nullptr) {
        return -1;
    }
    return DialogBoxIndirectParamW(ProgramInstance, dialogTemplate, nullptr, procedure, parameter);
}
