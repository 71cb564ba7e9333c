// The built-in control classes: buttons (push, check box, group box), combo
// boxes (drop-down with an edit field, drop-down list), list boxes and
// statics, with the messages, notifications and results of the device.
#include <algorithm>

#include "platform/user.h"
#include "user/window_procedures.h"

namespace platform::user {
namespace {

using Entries = std::vector<std::u16string>;

const WCHAR* TextParameter(LPARAM lParam)
{
    const auto* text = reinterpret_cast<const WCHAR*>(lParam);
    return text != nullptr ? text : u"";
}

int CountOf(const Entries& entries)
{
    return static_cast<int>(entries.size());
}

bool InRange(const Entries& entries, WPARAM index)
{
    return static_cast<std::size_t>(index) < entries.size();
}

// The index to add a new entry at: the end, or its sorted place.
std::size_t AddPosition(const Entries& entries, const std::u16string& text, bool sorted)
{
    if (!sorted) {
        return entries.size();
    }
    return static_cast<std::size_t>(std::upper_bound(entries.begin(), entries.end(), text) - entries.begin());
}

bool IsDropDownList(const Window& window)
{
    return (window.style & 0x3) == CBS_DROPDOWNLIST;
}

// Adds or inserts an entry; the new entry's index.
LRESULT Insert(HWND control, const std::u16string& text, std::optional<WPARAM> at, bool sorted)
{
    LRESULT index = CB_ERR;
    ChangeWindow(control, [&](Window& window) {
        std::size_t position = AddPosition(window.entries, text, sorted);
        if (at && static_cast<LONG_PTR>(*at) != -1) {
            if (*at > window.entries.size()) {
                return;
            }
            position = *at;
        }
        window.entries.insert(window.entries.begin() + static_cast<std::ptrdiff_t>(position), text);
        if (window.selection >= static_cast<int>(position)) {
            ++window.selection;
        }
        index = static_cast<LRESULT>(position);
    });
    return index;
}

// Deletes an entry; the entries left, or the error value.
LRESULT Delete(HWND control, WPARAM index, bool clearTextWithSelection)
{
    LRESULT left = CB_ERR;
    ChangeWindow(control, [&](Window& window) {
        if (!InRange(window.entries, index)) {
            return;
        }
        const int position = static_cast<int>(index);
        window.entries.erase(window.entries.begin() + position);
        if (window.selection == position) {
            window.selection = -1;
            if (clearTextWithSelection) {
                window.text.clear();
            }
        } else if (window.selection > position) {
            --window.selection;
        }
        left = CountOf(window.entries);
    });
    return left;
}

// Selects an entry (-1: none); the new selection, or the error value.
LRESULT Select(HWND control, WPARAM index, bool showInText)
{
    LRESULT result = CB_ERR;
    ChangeWindow(control, [&](Window& window) {
        if (!InRange(window.entries, index)) {
            window.selection = -1;
            if (showInText) {
                window.text.clear();
            }
            return;
        }
        window.selection = static_cast<int>(index);
        if (showInText) {
            window.text = window.entries[index];
        }
        result = static_cast<LRESULT>(index);
    });
    return result;
}

LRESULT EntryText(HWND control, WPARAM index, LPARAM buffer, bool lengthOnly)
{
    const auto entry = ReadWindow<std::optional<std::u16string>>(control, [&](const Window& window) {
        return InRange(window.entries, index) ? std::optional(window.entries[index]) : std::nullopt;
    });
    if (!entry || !*entry) {
        return CB_ERR;
    }
    if (!lengthOnly && buffer != 0) {
        // As on the device, the caller's buffer must hold the whole entry.
        const std::u16string& text = **entry;
        std::copy(text.begin(), text.end(), reinterpret_cast<WCHAR*>(buffer));
        reinterpret_cast<WCHAR*>(buffer)[text.size()] = u'\0';
    }
    return static_cast<LRESULT>((*entry)->size());
}

template <typename Value>
Value Read(HWND control, Value (*read)(const Window&))
{
    return ReadWindow<Value>(control, read).value_or(Value{});
}

int SelectionOf(const Window& window) { return window.selection; }
int CountOfWindow(const Window& window) { return CountOf(window.entries); }
bool DropDownListOf(const Window& window) { return IsDropDownList(window); }
DWORD StyleOf(const Window& window) { return window.style; }

// A person picked an entry from the drop-down or the list.
void ChooseByPerson(HWND control, WPARAM index, bool showInText, WORD notification, bool notify)
{
    if (!AcceptsInput(control)) {
        return;
    }
    SetFocus(control);
    Select(control, index, showInText);
    if (notify) {
        NotifyParent(control, notification);
    }
}

// Text typed into a combo box's edit field; a drop-down list has none.
void TypeCharacter(HWND control, WCHAR character)
{
    if (!AcceptsInput(control) || Read<bool>(control, DropDownListOf)) {
        return;
    }
    ChangeWindow(control, [character](Window& window) {
        if (character == u'\b') {
            if (!window.text.empty()) {
                window.text.pop_back();
            }
        } else {
            window.text.push_back(character);
        }
        window.selection = -1;   // edited text no longer is the chosen entry
    });
    NotifyParent(control, CBN_EDITCHANGE);
}

void ClearEditField(HWND control)
{
    if (!AcceptsInput(control) || Read<bool>(control, DropDownListOf)) {
        return;
    }
    ChangeWindow(control, [](Window& window) {
        window.text.clear();
        window.selection = -1;
    });
    NotifyParent(control, CBN_EDITCHANGE);
}

// WM_SETTEXT on a drop-down list selects the entry with that text; an empty
// text selects none; any other text is refused.
LRESULT SetDropDownListText(HWND control, const std::u16string& text)
{
    LRESULT result = CB_ERR;
    ChangeWindow(control, [&](Window& window) {
        const auto found = std::find(window.entries.begin(), window.entries.end(), text);
        if (text.empty() || found != window.entries.end()) {
            window.selection = text.empty() ? -1 : static_cast<int>(found - window.entries.begin());
            window.text = text;
            result = TRUE;
        }
    });
    return result;
}

void ClickButton(HWND button)
{
    const DWORD type = Read<DWORD>(button, StyleOf) & BS_TYPEMASK;
    if (type == BS_GROUPBOX) {
        return;
    }
    if (type == BS_AUTOCHECKBOX) {
        ChangeWindow(button, [](Window& window) { window.checked = !window.checked; });
    }
    NotifyParent(button, BN_CLICKED);
}

}  // namespace

LRESULT ButtonProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case BM_GETCHECK: return ReadWindow<bool>(window, [](const Window& w) { return w.checked; }).value_or(false);
    case BM_SETCHECK: ChangeWindow(window, [wParam](Window& w) { w.checked = wParam == BST_CHECKED; }); return 0;
    case BM_CLICK: ClickButton(window); return 0;
    case WM_INPUT_CLICK:
        if (AcceptsInput(window)) {
            SetFocus(window);
            ClickButton(window);
        }
        return 0;
    default: return DefaultProcedure(window, message, wParam, lParam);
    }
}

LRESULT ComboBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool sorted = (Read<DWORD>(window, StyleOf) & CBS_SORT) != 0;
    switch (message) {
    case CB_ADDSTRING: return Insert(window, TextParameter(lParam), std::nullopt, sorted);
    case CB_INSERTSTRING: return Insert(window, TextParameter(lParam), wParam, false);
    case CB_DELETESTRING: return Delete(window, wParam, Read<bool>(window, DropDownListOf));
    case CB_GETCOUNT: return Read<int>(window, CountOfWindow);
    case CB_GETCURSEL: return Read<int>(window, SelectionOf);
    case CB_SETCURSEL: return Select(window, wParam, true);
    case CB_GETLBTEXT: return EntryText(window, wParam, lParam, false);
    case CB_GETLBTEXTLEN: return EntryText(window, wParam, lParam, true);
    case CB_RESETCONTENT:
        ChangeWindow(window, [](Window& w) {
            w.entries.clear();
            w.selection = -1;
        });
        return 0;
    case WM_SETTEXT:
        if (Read<bool>(window, DropDownListOf)) {
            return SetDropDownListText(window, TextParameter(lParam));
        }
        return DefaultProcedure(window, message, wParam, lParam);
    case WM_SETFOCUS: NotifyParent(window, CBN_SETFOCUS); return 0;
    case WM_KILLFOCUS: NotifyParent(window, CBN_KILLFOCUS); return 0;
    case WM_INPUT_CHOOSE: ChooseByPerson(window, wParam, true, CBN_SELCHANGE, true); return 0;
    case WM_INPUT_CLICK:
        if (AcceptsInput(window)) {
            SetFocus(window);
        }
        return 0;
    case WM_INPUT_CLEAR: ClearEditField(window); return 0;
    case WM_CHAR: TypeCharacter(window, static_cast<WCHAR>(wParam)); return 0;
    default: return DefaultProcedure(window, message, wParam, lParam);
    }
}

LRESULT ListBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const DWORD style = Read<DWORD>(window, StyleOf);
    const bool notify = (style & LBS_NOTIFY) != 0;
    switch (message) {
    case LB_ADDSTRING: return Insert(window, TextParameter(lParam), std::nullopt, (style & LBS_SORT) != 0);
    case LB_INSERTSTRING: return Insert(window, TextParameter(lParam), wParam, false);
    case LB_DELETESTRING: return Delete(window, wParam, false);
    case LB_GETCOUNT: return Read<int>(window, CountOfWindow);
    case LB_GETCURSEL: return Read<int>(window, SelectionOf);
    case LB_SETCURSEL: return Select(window, wParam, false);
    case LB_GETTEXT: return EntryText(window, wParam, lParam, false);
    case LB_GETTEXTLEN: return EntryText(window, wParam, lParam, true);
    case LB_RESETCONTENT:
        ChangeWindow(window, [](Window& w) {
            w.entries.clear();
            w.selection = -1;
        });
        return 0;
    case WM_SETFOCUS:
        if (notify) {
            NotifyParent(window, LBN_SETFOCUS);
        }
        return 0;
    case WM_KILLFOCUS:
        if (notify) {
            NotifyParent(window, LBN_KILLFOCUS);
        }
        return 0;
    case WM_INPUT_CHOOSE: ChooseByPerson(window, wParam, false, LBN_SELCHANGE, notify); return 0;
    case WM_INPUT_DOUBLE_CLICK:
        if (AcceptsInput(window)) {
            ChooseByPerson(window, wParam, false, LBN_SELCHANGE, notify);
            if (notify) {
                NotifyParent(window, LBN_DBLCLK);
            }
        }
        return 0;
    case WM_INPUT_CLICK:
        if (AcceptsInput(window)) {
            SetFocus(window);
        }
        return 0;
    default: return DefaultProcedure(window, message, wParam, lParam);
    }
}

LRESULT StaticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case STM_SETIMAGE: {
        HICON previous = nullptr;
        ChangeWindow(window, [&](Window& w) {
            previous = w.icon;
            w.icon = reinterpret_cast<HICON>(lParam);
        });
        return reinterpret_cast<LRESULT>(previous);
    }
    case STM_GETIMAGE:
        return reinterpret_cast<LRESULT>(ReadWindow<HICON>(window, [](const Window& w) { return w.icon; }).value_or(nullptr));
    default: return DefaultProcedure(window, message, wParam, lParam);
    }
}

}  // namespace platform::user
