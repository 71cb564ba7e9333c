#include "app/port_settings_dialog.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "app/dialog_resource.h"
#include "app/inputs_dialog.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"
#include "settings/output_description.h"
#include "settings/output_options_store.h"
#include "state/app_settings.h"
#include "state/extra_inputs.h"

namespace {

// The talk modes in the order of TalkMode, as the stored line words them.
constexpr const char* kTalkModes[] = {"off", "lines", "raw"};

// The boxes that hold the shape's lists, each with the word of the stored
// line that it stands for.
struct ListBox {
    WORD id;
    std::string_view word;
};
constexpr ListBox kListBoxes[] = {
    {IDC_PORT_ONLY, "only"}, {IDC_PORT_DENY, "deny"}, {IDC_PORT_TALKER, "talker"}, {IDC_PORT_EVERY, "every"}};

// The port whose settings the dialog, modal, has open.
PortNumber openPort = 0;

// Puts each list of `options` in its box, as the stored line writes it.
void ShowLists(HWND dialog, const OutputOptions& options)
{
    const std::string line = OutputOptionsText(options);
    std::string_view rest = line;
    while (!rest.empty()) {
        const std::string_view word = rest.substr(0, rest.find(' '));
        rest.remove_prefix(std::min(rest.size(), word.size() + 1));
        const std::size_t equals = word.find('=');
        for (const ListBox& box : kListBoxes) {
            if (word.substr(0, equals) == box.word) {
                SetDlgItemTextW(dialog, box.id, platform::ToUtf16(word.substr(equals + 1)).c_str());
            }
        }
    }
}

void FillDialog(HWND dialog, const OutputOptions& options)
{
    for (const char* mode : kTalkModes) {
        AddChoice(dialog, IDC_PORT_TALK, platform::ToUtf16(mode));
    }
    SendDlgItemMessageW(dialog, IDC_PORT_TALK, CB_SETCURSEL, static_cast<WPARAM>(options.talk), 0);
    // An input that is no longer there is not listed: no entry is chosen, and
    // OK keeps the number that was stored.
    for (std::size_t number = 0; number <= AppSettings.extraInputs.size(); ++number) {
        AddChoice(dialog, IDC_PORT_TALK_TO, InputChoiceName(number));
    }
    SendDlgItemMessageW(dialog, IDC_PORT_TALK_TO, CB_SETCURSEL, options.talkTo, 0);
    CheckDlgButton(dialog, IDC_PORT_CHECKSUM, options.shape.checksum ? BST_CHECKED : BST_UNCHECKED);
    ShowLists(dialog, options);
}

// The input talked to counts only while the program talks.
void EnableTalkTo(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_PORT_TALK_TO), Choice(dialog, IDC_PORT_TALK) > 0 ? TRUE : FALSE);
}

// A box's list without blanks: patterns have none, so "GGA, RMC" is "GGA,RMC".
std::string Unblanked(const std::u16string& typed)
{
    std::u16string text = typed;
    std::erase_if(text, [](char16_t c) { return c == u' ' || c == u'\t'; });
    return platform::ToUtf8(text);
}

// The stored line that the boxes say.
std::string DialogLine(HWND dialog, const OutputOptions& before)
{
    std::string line;
    const auto append = [&line](std::string_view word, const std::string& value) {
        line.append(line.empty() ? "" : " ").append(word).append("=").append(value);
    };
    if (const int talk = Choice(dialog, IDC_PORT_TALK); talk > 0) {
        append("talk", kTalkModes[talk]);
        const int to = Choice(dialog, IDC_PORT_TALK_TO);
        append("to", std::to_string(to < 0 ? before.talkTo : static_cast<std::size_t>(to)));
    }
    if (IsDlgButtonChecked(dialog, IDC_PORT_CHECKSUM) == BST_CHECKED) {
        append("checksum", "on");
    }
    for (const ListBox& box : kListBoxes) {
        if (const std::string list = Unblanked(ItemText(dialog, box.id)); !list.empty()) {
            append(box.word, list);
        }
    }
    return line;
}

// OK: the boxes' settings, when they are settings, stored and taken for the
// relay's next start; false, with a box saying why, when they are not.
bool StorePortSettings(HWND dialog)
{
    std::string reason;
    const std::optional<OutputOptions> options =
        ParseOutputOptionsText(DialogLine(dialog, AppSettings.portOptions[openPort]), reason);
    if (!options) {
        Complain(reason);
        return false;
    }
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    if (!WriteOutputOptions(key, OutputSetting(openPort), *options)) {
        Complain("The port's settings cannot be stored in the device's registry");
        return false;
    }
    AppSettings.portOptions[openPort] = *options;
    return true;
}

BOOL PortSettingsProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        const std::u16string caption = platform::ToUtf16("COM" + std::to_string(openPort) + " Settings");
        SetWindowTextW(dialog, caption.c_str());
        FillDialog(dialog, AppSettings.portOptions[openPort]);
        EnableTalkTo(dialog);
        return TRUE;
    }
    return FormProcedure(dialog, message, wParam, {IDC_PORT_TALK, EnableTalkTo, StorePortSettings});
}

}  // namespace

void ShowPortSettingsDialog(PortNumber port)
{
    if (port >= AppSettings.portOptions.size()) {
        return;
    }
    openPort = port;
    RunDialog(IDD_PORT_SETTINGS_PORTRAIT, IDD_PORT_SETTINGS_LANDSCAPE, PortSettingsProcedure, 0);
}
