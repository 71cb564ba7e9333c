#include "dialog_thread.h"

#include "platform/user_input.h"
#include "support/poke_until_ended.h"

namespace tavrel::testing {

DialogThread::DialogThread(std::vector<BYTE> dialogTemplate, DLGPROC procedure, LPARAM parameter)
    : template_(std::move(dialogTemplate))
{
    thread_ = std::thread([this, procedure, parameter] {
        result_ = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATE>(template_.data()), nullptr, procedure,
                                          parameter);
        ended_ = true;
    });
}

DialogThread::~DialogThread()
{
    if (thread_.joinable()) {
        PokeUntilEnded([this] { return ended_.load(); },
                       [] {
                           for (HWND window : platform::input::TopLevelWindows()) {
                               EndDialog(window, -2);
                           }
                       },
                       "the dialog thread");
        thread_.join();
    }
}

INT_PTR DialogThread::Result()
{
    if (thread_.joinable()) {
        thread_.join();
    }
    return result_;
}

std::vector<BYTE> SampleDialog(const std::u16string& caption)
{
    using Item = platform::DialogTemplateWriter::Item;
    const DWORD child = WS_CHILD | WS_VISIBLE;
    platform::DialogTemplateWriter writer(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_EX_CAPTIONOKBTN,
                                          0, 0, 156, 120, caption);
    writer.Font(8, u"MS Sans Serif")
        .Add(Item{10, u"BUTTON", u"Press", std::nullopt, child | BS_PUSHBUTTON | WS_TABSTOP, 0, 4, 4, 50, 14})
        .Add(Item{11, u"BUTTON", u"Check", std::nullopt, child | BS_AUTOCHECKBOX | WS_TABSTOP, 0, 60, 4, 50, 10})
        .Add(Item{12, u"COMBOBOX", u"", std::nullopt, child | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0, 4, 24, 80, 90})
        .Add(Item{13, u"COMBOBOX", u"", std::nullopt, child | CBS_DROPDOWNLIST | WS_TABSTOP, 0, 4, 40, 80, 90})
        .Add(Item{14, u"LISTBOX", u"", std::nullopt, child | LBS_NOTIFY | WS_BORDER | WS_TABSTOP, 0, 90, 24, 60, 40})
        .Add(Item{15, u"STATIC", u"Label", std::nullopt, child | SS_LEFT, 0, 4, 60, 40, 8})
        .Add(Item{16, u"BUTTON", u"Group", std::nullopt, child | BS_GROUPBOX, 0, 2, 70, 150, 40});
    return writer.Bytes();
}

}  // namespace tavrel::testing
