#include "app/inputs_dialog.h"

#include <optional>
#include <string>
#include <vector>

#include "app/dialog_resource.h"
#include "platform/registry_key.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"
#include "settings/command_text.h"
#include "settings/extra_inputs_store.h"
#include "settings/output_options_store.h"
#include "settings/input_description.h"
#include "settings/setting_values.h"
#include "state/app_settings.h"
#include "relay/relay_worker.h"
#include "state/baud_rates.h"

namespace {

constexpr const char* kKinds[] = {"serial", "tcp", "udp"};
constexpr std::size_t kTextSize = 64;

// The list, and the main input's start-up command, as the dialog changes
// them; stored only by OK.
ExtraInputs editing;
std::string editingMainInit;

// What the editing dialog gets and gives back: the input (number 0: the
// main one, of which only the start-up command is edited), its number, and
// whether OK took it.
struct InputEdit {
    ExtraInput input;
    std::size_t number = 0;
    bool taken = false;
};
// The input that the editing dialog, modal, has open; null while none.
InputEdit* openEdit = nullptr;

std::u16string Wide(const std::string& text)
{
    return platform::ToUtf16(text);
}

void ShowList(HWND dialog)
{
    const HWND list = GetDlgItem(dialog, IDC_INPUT_LIST);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    WCHAR main[kTextSize] = {};
    StringCchPrintfW(main, kTextSize, u"0  COM%d %u (main)", AppSettings.inputPort, BaudRateOf(AppSettings.baudIndex));
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(main));
    for (std::size_t i = 0; i < editing.size(); ++i) {
        // The name first, where the list is not cut off.
        ExtraInput unnamed = editing[i];
        unnamed.name.clear();
        const std::string name = editing[i].name.empty() ? "" : editing[i].name + ": ";
        const std::u16string line = Wide(std::to_string(i + 1) + "  " + name + ExtraInputText(unnamed));
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    const bool full = editing.size() >= kMostExtraInputs;
    EnableWindow(GetDlgItem(dialog, IDC_INPUT_ADD), full ? FALSE : TRUE);
}

// The input chosen in the list, 0 (the main one) onwards; nothing for none.
std::optional<std::size_t> ChosenInput(HWND dialog)
{
    const auto index = SendDlgItemMessageW(dialog, IDC_INPUT_LIST, LB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<std::size_t>(index) > editing.size()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(index);
}

// ---- One input -------------------------------------------------------------

void FillEditor(HWND dialog, const InputEdit& edit)
{
    const ExtraInput& input = edit.input;
    for (const char* kind : kKinds) {
        AddChoice(dialog, IDC_INPUT_KIND, Wide(kind));
    }
    SendDlgItemMessageW(dialog, IDC_INPUT_KIND, CB_SETCURSEL, static_cast<WPARAM>(input.kind), 0);
    // A new input has no place yet; a known one's is its place without the kind.
    const std::string place = edit.number > editing.size() ? std::string() : ExtraInputPlace(input);
    SetDlgItemTextW(dialog, IDC_INPUT_PLACE, Wide(place.substr(place.find(' ') + 1)).c_str());
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        AddChoice(dialog, IDC_INPUT_BAUD, Wide(std::to_string(kBaudRates[i])));
        if (kBaudRates[i] == input.baudRate) {
            SendDlgItemMessageW(dialog, IDC_INPUT_BAUD, CB_SETCURSEL, i, 0);
        }
    }
    SetDlgItemTextW(dialog, IDC_INPUT_NAME, Wide(input.name).c_str());
    SetDlgItemTextW(dialog, IDC_INPUT_GROUP, Wide(input.group).c_str());
    AddChoice(dialog, IDC_INPUT_STANDBY, u"nothing");
    AddChoice(dialog, IDC_INPUT_STANDBY, u"0 (main)");
    for (std::size_t i = 1; i <= editing.size() + 1 && i <= kMostExtraInputs; ++i) {
        AddChoice(dialog, IDC_INPUT_STANDBY, Wide(std::to_string(i)));
    }
    SendDlgItemMessageW(dialog, IDC_INPUT_STANDBY, CB_SETCURSEL, input.standbyFor ? *input.standbyFor + 1 : 0, 0);
    SetDlgItemTextW(dialog, IDC_INPUT_INIT, Wide(EncodeCommandText(input.init)).c_str());
}

// The baud rate counts for a serial input only, the group for a UDP one, the
// start-up command for any but a UDP one. The main input is set in the main
// window: only its command is edited here.
void EnableEditorBoxes(HWND dialog)
{
    const int kind = Choice(dialog, IDC_INPUT_KIND);
    const bool extra = openEdit == nullptr || openEdit->number != 0;
    for (const int id : {IDC_INPUT_KIND, IDC_INPUT_PLACE, IDC_INPUT_NAME, IDC_INPUT_STANDBY}) {
        EnableWindow(GetDlgItem(dialog, id), extra ? TRUE : FALSE);
    }
    EnableWindow(GetDlgItem(dialog, IDC_INPUT_BAUD), extra && kind == 0 ? TRUE : FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_INPUT_GROUP), extra && kind == 2 ? TRUE : FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_INPUT_INIT), kind != 2 ? TRUE : FALSE);
}

// The words that the boxes say, as tavrel-config takes them.
std::vector<std::string> EditorWords(HWND dialog, const ExtraInput& before)
{
    const int kind = Choice(dialog, IDC_INPUT_KIND);
    std::vector<std::string> words{kKinds[kind < 0 ? 0 : kind], platform::ToUtf8(ItemText(dialog, IDC_INPUT_PLACE))};
    if (kind == 0) {
        const int baud = Choice(dialog, IDC_INPUT_BAUD);
        words.push_back(std::to_string(baud < 0 ? before.baudRate : kBaudRates[static_cast<std::size_t>(baud)]));
    }
    if (const std::u16string name = ItemText(dialog, IDC_INPUT_NAME); !name.empty()) {
        words.push_back("name=" + platform::ToUtf8(name));
    }
    if (const std::u16string group = ItemText(dialog, IDC_INPUT_GROUP); kind == 2 && !group.empty()) {
        words.push_back("group=" + platform::ToUtf8(group));
    }
    if (const int standby = Choice(dialog, IDC_INPUT_STANDBY); standby > 0) {
        words.push_back("standby-for=" + std::to_string(standby - 1));
        words.push_back("standby-after=" + std::to_string(before.standbySeconds));
    }
    if (const std::u16string init = ItemText(dialog, IDC_INPUT_INIT); kind != 2 && !init.empty()) {
        words.push_back("init=" + platform::ToUtf8(init));
    }
    return words;
}

// OK for the main input: its start-up command, when its escapes are right.
bool TakeMainCommand(HWND dialog, InputEdit& edit)
{
    std::string reason;
    const std::string typed = platform::ToUtf8(ItemText(dialog, IDC_INPUT_INIT));
    const std::optional<std::string> command = DecodeCommandText(typed, reason);
    if (!command) {
        Complain(reason);
        return false;
    }
    edit.input.init = *command;
    edit.taken = true;
    return true;
}

// OK: the boxes as an input; false, with a box saying why, when they are not one.
bool TakeEditor(HWND dialog, InputEdit& edit)
{
    if (edit.number == 0) {
        return TakeMainCommand(dialog, edit);
    }
    std::string reason;
    std::optional<ExtraInput> input = ParseExtraInput(EditorWords(dialog, edit.input), reason);
    if (input) {
        ExtraInputs trial = editing;
        trial.resize(std::max(trial.size(), edit.number));
        trial[edit.number - 1] = *input;
        if (!StandbysValid(trial, reason)) {
            input.reset();
        }
    }
    if (!input) {
        Complain(reason);
        return false;
    }
    edit.input = std::move(*input);
    edit.taken = true;
    return true;
}

// OK in the editor: the boxes taken into the input it has open.
bool TakeOpenEdit(HWND dialog)
{
    return openEdit != nullptr && TakeEditor(dialog, *openEdit);
}

BOOL EditorProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        openEdit = reinterpret_cast<InputEdit*>(lParam);
        FillEditor(dialog, *openEdit);
        EnableEditorBoxes(dialog);
        return TRUE;
    }
    return FormProcedure(dialog, message, wParam, {IDC_INPUT_KIND, EnableEditorBoxes, TakeOpenEdit});
}

// The main input as the editor shows it: the window's port and rate, and
// its start-up command.
ExtraInput MainInput()
{
    ExtraInput input;
    input.comPort = AppSettings.inputPort;
    input.device = "COM" + std::to_string(AppSettings.inputPort);
    input.baudRate = BaudRateOf(AppSettings.baudIndex);
    input.init = editingMainInit;
    return input;
}

// Edits input `number` (0 the main one; one past the list: a new one); true
// when OK took it.
bool EditInput(HWND dialog, std::size_t number)
{
    InputEdit edit;
    edit.number = number;
    if (number == 0) {
        edit.input = MainInput();
    } else if (number <= editing.size()) {
        edit.input = editing[number - 1];
    }
    RunDialog(IDD_INPUT_EDIT, IDD_INPUT_EDIT, EditorProcedure, reinterpret_cast<LPARAM>(&edit));
    openEdit = nullptr;
    if (!edit.taken) {
        return false;
    }
    if (number == 0) {
        editingMainInit = std::move(edit.input.init);
    } else if (number > editing.size()) {
        editing.push_back(std::move(edit.input));
    } else {
        editing[number - 1] = std::move(edit.input);
    }
    ShowList(dialog);
    return true;
}

// ---- The list --------------------------------------------------------------

// OK: the inputs and the main input's start-up command stored, and taken
// for the relay's next start.
bool StoreInputs()
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    const SettingValue init =
        editingMainInit.empty() ? SettingValue{} : SettingValue{Wide(EncodeCommandText(editingMainInit))};
    if (!WriteExtraInputs(key, editing) || !WriteSetting(key, Setting(SettingId::InputInit), init)) {
        Complain("The inputs cannot be stored in the device's registry");
        return false;
    }
    AppSettings.extraInputs = editing;
    AppSettings.inputInit = editingMainInit;
    return true;
}

void OnInputsCommand(HWND dialog, WORD id)
{
    const std::optional<std::size_t> chosen = ChosenInput(dialog);
    std::string reason;
    switch (id) {
    case IDC_INPUT_ADD: EditInput(dialog, editing.size() + 1); break;
    case IDC_INPUT_EDIT:
        if (chosen) {
            EditInput(dialog, *chosen);
        }
        break;
    case IDC_INPUT_REMOVE:
        if (chosen && *chosen > 0 &&
            (!TalkAllowsRemoving({AppSettings.portOptions, AppSettings.tcpOptions, AppSettings.udpOptions}, *chosen,
                                 reason) ||
             !RemoveExtraInput(editing, *chosen, reason))) {
            Complain(reason);
        }
        ShowList(dialog);
        break;
    case IDOK:
        if (StoreInputs()) {
            EndDialog(dialog, IDOK);
        }
        break;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    default: break;
    }
}

BOOL InputsProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
        SHInitDialog(&info);
        editing = AppSettings.extraInputs;
        editingMainInit = AppSettings.inputInit;
        ShowList(dialog);
        return TRUE;
    }
    case WM_COMMAND: OnInputsCommand(dialog, LOWORD(wParam)); return TRUE;
    case WM_CLOSE: EndDialog(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

std::u16string InputChoiceName(std::size_t number)
{
    const ExtraInputs& inputs = AppSettings.extraInputs;
    if (number == 0 || number > inputs.size()) {
        return Wide(std::to_string(number) + (number == 0 ? " (main)" : ""));
    }
    const ExtraInput& input = inputs[number - 1];
    return Wide(std::to_string(number) + "  " + (input.name.empty() ? ExtraInputPlace(input) : input.name));
}

void ShowInputsDialog(HWND mainDialog)
{
    RunDialog(IDD_INPUTS_PORTRAIT, IDD_INPUTS_LANDSCAPE, InputsProcedure, reinterpret_cast<LPARAM>(mainDialog));
}
