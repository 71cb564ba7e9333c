#include "app/dialog_resource.h"

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
