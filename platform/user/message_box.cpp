// Message boxes as modal dialogs: a text and a row of buttons.
#include <cstdio>
#include <vector>

#include "platform/display.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "user/dialogs.h"
#include "user/window_table.h"

namespace platform::user {
namespace {

struct Button {
    int id;
    const char16_t* text;
};

std::vector<Button> ButtonsOf(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, u"OK"}, {IDCANCEL, u"Cancel"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, u"Abort"}, {IDRETRY, u"Retry"}, {IDIGNORE, u"Ignore"}};
    case MB_YESNOCANCEL: return {{IDYES, u"Yes"}, {IDNO, u"No"}, {IDCANCEL, u"Cancel"}};
    case MB_YESNO: return {{IDYES, u"Yes"}, {IDNO, u"No"}};
    case MB_RETRYCANCEL: return {{IDRETRY, u"Retry"}, {IDCANCEL, u"Cancel"}};
    default: return {{IDOK, u"OK"}};
    }
}

// What closing the box answers: Cancel when it has one, else its only or first button.
int CloseAnswer(UINT type)
{
    const std::vector<Button> buttons = ButtonsOf(type);
    for (const Button& button : buttons) {
        if (button.id == IDCANCEL) {
            return IDCANCEL;
        }
    }
    return buttons.size() == 1 ? buttons[0].id : IDCANCEL;
}

BOOL MessageBoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM)
{
    const UINT type = ReadWindow<UINT>(box, [](const Window& w) { return w.messageBoxType; }).value_or(MB_OK);
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        for (const Button& button : ButtonsOf(type)) {
            if (LOWORD(wParam) == button.id) {
                EndDialog(box, button.id);
                return TRUE;
            }
        }
        // Esc: a box with only OK answers OK; one without Cancel or OK stays.
        if (LOWORD(wParam) == IDCANCEL && (type & MB_TYPEMASK) == MB_OK) {
            EndDialog(box, IDOK);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE: EndDialog(box, CloseAnswer(type)); return TRUE;
    default: return FALSE;
    }
}

DialogTemplateContent BoxContent(LPCWSTR text, LPCWSTR caption, UINT type)
{
    DialogTemplateContent content{};
    content.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
    content.caption = caption;
    content.cx = 150;
    content.cy = 80;
    const bool withIcon = (type & MB_ICONMASK) != 0;
    const short textLeft = withIcon ? 30 : 6;
    content.items.push_back({0xFFFF, u"STATIC", text, std::nullopt, SS_LEFT | WS_VISIBLE, 0, textLeft, 6,
                             static_cast<short>(144 - textLeft), 48});
    const std::vector<Button> buttons = ButtonsOf(type);
    short x = static_cast<short>(75 - 24 * static_cast<short>(buttons.size()));
    for (const Button& button : buttons) {
        // The first button is the default one, which Enter presses.
        const DWORD buttonType = &button == &buttons.front() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        content.items.push_back({static_cast<WORD>(button.id), u"BUTTON", button.text, std::nullopt,
                                 buttonType | WS_TABSTOP | WS_VISIBLE, 0, x, 60, 44, 14});
        x = static_cast<short>(x + 48);
    }
    return content;
}

int AnswerUnattended(LPCWSTR text, LPCWSTR caption)
{
    const std::string line = ToUtf8(caption) + ": " + ToUtf8(text) + "\n";
    std::fputs(line.c_str(), stderr);
    return IDOK;
}

}  // namespace
}  // namespace platform::user

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    using namespace platform::user;
    text = text != nullptr ? text : u"";
    caption = caption != nullptr ? caption : u"Error";
    if (!platform::CurrentDisplay()->SomeoneCanAnswer()) {
        return AnswerUnattended(text, caption);
    }
    const HWND box = CreateDialogWindow(BoxContent(text, caption, type), nullptr, owner, MessageBoxProcedure);
    if (box == nullptr) {
        return 0;
    }
    ChangeWindow(box, [type](Window& w) {
        w.messageBoxType = type;
        w.isMessageBox = true;
        w.captionOk = false;
    });
    return static_cast<int>(RunModalDialog(box, 0));
}
