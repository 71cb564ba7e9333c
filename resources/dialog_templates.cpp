// The dialog templates of the program, registered in its module before
// WinMain runs: the main window in its portrait (105) and landscape (106)
// layouts, the About box (107), the Status dialog in its portrait (108)
// and landscape (109) layouts, the Inputs dialog in its two (110, 111), the
// dialog that edits one input (112), an output port's settings in its two
// (113, 114), and the outputs beyond this machine (115). Places and sizes are in dialog units.
#include <initializer_list>

#include "platform/kernel.h"
#include "platform/resources.h"
#include "resources/resource_ids.h"

namespace {

using platform::DialogTemplateWriter;
using Item = DialogTemplateWriter::Item;

struct Place {
    short x, y, cx, cy;
};

constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;

// Each control has the same style in both layouts of the main window. No
// combo box or list box sorts: their entries stay in step with the
// program's lists.
constexpr DWORD kInputPortStyle = CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP | kShown;
constexpr DWORD kChoiceListStyle = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | kShown;
constexpr DWORD kLabelStyle = SS_LEFT | WS_GROUP | kShown;
constexpr DWORD kOutputListStyle = WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | kShown;
constexpr DWORD kPushButtonStyle = BS_PUSHBUTTON | WS_TABSTOP | kShown;
constexpr DWORD kStartStopStyle = BS_PUSHBUTTON | BS_MULTILINE | BS_CENTER | BS_VCENTER | WS_TABSTOP | kShown;
constexpr DWORD kGroupBoxStyle = BS_GROUPBOX | kShown;
constexpr DWORD kCheckBoxStyle = BS_AUTOCHECKBOX | WS_TABSTOP | kShown;

Item Control(WORD id, const char16_t* className, const char16_t* text, DWORD style, Place place)
{
    return Item{id, className, text, std::nullopt, style, 0, place.x, place.y, place.cx, place.cy};
}

// The main window's controls by role.
Item InputPortBox(Place place) { return Control(IDC_INPUT_PORT, u"COMBOBOX", u"", kInputPortStyle, place); }
Item BaudBox(Place place) { return Control(IDC_BAUD, u"COMBOBOX", u"", kChoiceListStyle, place); }
Item PortLabel(Place place) { return Control(IDC_STATIC, u"STATIC", u"Port", kLabelStyle, place); }
Item BaudLabel(Place place) { return Control(IDC_STATIC, u"STATIC", u"Baud", kLabelStyle, place); }
Item FreeOutputBox(Place place) { return Control(IDC_FREE_OUTPUTS, u"COMBOBOX", u"", kChoiceListStyle, place); }
Item OutputList(Place place) { return Control(IDC_OUTPUT_LIST, u"LISTBOX", u"", kOutputListStyle, place); }
Item AddButton(Place place) { return Control(IDC_ADD, u"BUTTON", u"Add", kPushButtonStyle, place); }
Item DeleteButton(Place place) { return Control(IDC_DELETE, u"BUTTON", u"Delete", kPushButtonStyle, place); }
Item ExitButton(Place place) { return Control(IDC_EXIT, u"BUTTON", u"Exit", kPushButtonStyle, place); }
Item AboutButton(Place place) { return Control(IDC_ABOUT, u"BUTTON", u"About", kPushButtonStyle, place); }
Item InputGroup(Place place) { return Control(IDC_STATIC, u"BUTTON", u"Input", kGroupBoxStyle, place); }
Item OutputGroup(Place place) { return Control(IDC_STATIC, u"BUTTON", u"Output", kGroupBoxStyle, place); }
Item AutostartBox(Place place) { return Control(IDC_AUTOSTART, u"BUTTON", u"Autostart", kCheckBoxStyle, place); }
Item ReconnectBox(Place place) { return Control(IDC_RECONNECT, u"BUTTON", u"Reconnect", kCheckBoxStyle, place); }
Item StatusButton(Place place) { return Control(IDC_STATUS, u"BUTTON", u"Status", kPushButtonStyle, place); }
Item InputsButton(Place place) { return Control(IDC_INPUTS, u"BUTTON", u"Inputs", kPushButtonStyle, place); }
Item PortSettingsButton(Place place)
{
    return Control(IDC_PORT_SETTINGS, u"BUTTON", u"Set\u2026", kPushButtonStyle, place);
}
Item StartStopButton(const char16_t* text, Place place)
{
    return Control(IDC_START_STOP, u"BUTTON", text, kStartStopStyle, place);
}

// Both layouts: a pop-up with a caption, a modal frame and an OK button in
// the caption, at (0, 0), in an 8-point font.
std::vector<BYTE> MainWindow(short cx, short cy, const char16_t* face, std::initializer_list<Item> controls)
{
    DialogTemplateWriter writer(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_EX_CAPTIONOKBTN, 0, 0, cx, cy,
                                u"Tavrel V1.20");
    writer.Font(8, face);
    for (const Item& control : controls) {
        writer.Add(control);
    }
    return writer.Bytes();
}

// Template order is the tab order. Reconnect, Status, Inputs and Set come last in
// both layouts, after the controls that every Tavrel has, in the room that
// they leave: Reconnect under Autostart in portrait, under the outputs in
// landscape; Status between About and Exit in portrait, beside Reconnect
// under the button column in landscape; Set under the output list, which
// ends level with Add so that Set stands level with Delete.
std::vector<BYTE> PortraitMainWindow()
{
    return MainWindow(156, 165, u"MS Sans Serif",
                      {
                          InputPortBox({35, 12, 109, 100}),
                          BaudBox({35, 27, 69, 102}),
                          PortLabel({15, 14, 14, 8}),
                          BaudLabel({15, 29, 18, 8}),
                          FreeOutputBox({13, 62, 47, 90}),
                          OutputList({64, 62, 33, 28}),
                          AddButton({13, 78, 47, 12}),
                          DeleteButton({13, 94, 47, 12}),
                          ExitButton({102, 145, 50, 14}),
                          StartStopButton(u"START SPLITTER", {101, 62, 44, 44}),
                          InputGroup({4, 1, 148, 45}),
                          OutputGroup({4, 51, 148, 63}),
                          AboutButton({4, 145, 50, 14}),
                          AutostartBox({4, 123, 145, 10}),
                          ReconnectBox({4, 134, 145, 10}),
                          StatusButton({56, 145, 44, 14}),
                          InputsButton({108, 26, 40, 13}),
                          PortSettingsButton({64, 94, 33, 12}),
                      });
}

// The button column is wider than the portrait's buttons: Start/Stop is one
// line high here, and after the first stop it reads "START SPLITTER", which
// needs some 60 dialog units on one line. The landscape screen has the room
// on the right, so the column and the group boxes around it grow that way.
std::vector<BYTE> LandscapeMainWindow()
{
    return MainWindow(172, 129, u"MS Shell Dlg",
                      {
                          InputPortBox({30, 11, 98, 100}),
                          BaudBox({30, 26, 69, 102}),
                          PortLabel({10, 13, 14, 8}),
                          BaudLabel({10, 28, 18, 8}),
                          AutostartBox({102, 28, 47, 10}),
                          InputGroup({4, 0, 164, 45}),
                          FreeOutputBox({10, 59, 47, 90}),
                          OutputList({61, 59, 33, 28}),
                          AddButton({10, 75, 47, 12}),
                          DeleteButton({10, 91, 47, 12}),
                          StartStopButton(u"START", {98, 59, 66, 14}),
                          ExitButton({98, 74, 66, 14}),
                          AboutButton({98, 89, 66, 14}),
                          OutputGroup({4, 48, 164, 63}),
                          ReconnectBox({4, 114, 90, 10}),
                          StatusButton({98, 113, 66, 14}),
                          InputsButton({131, 10, 33, 13}),
                          PortSettingsButton({61, 91, 33, 12}),
                      });
}

// The About box: the program's icon; its text window is made at run time.
std::vector<BYTE> AboutBox()
{
    DialogTemplateWriter writer(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0, 0, 156, 129, u"About Tavrel");
    writer.Font(8, u"MS Shell Dlg");
    writer.Add(Item{IDC_STATIC, u"STATIC", u"", IDI_PROGRAM, SS_ICON | kShown, 0, 7, 7, 20, 20});
    return writer.Bytes();
}

// The Status dialog: what the relay does, in a list that refreshes itself,
// and the network outputs' settings under it, in the main window's style.
constexpr DWORD kTextBoxStyle = CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP | kShown;
// The list is read, not chosen from: it takes no focus and marks no line.
constexpr DWORD kHealthListStyle = WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | kShown;

// Where the settings' rows start and how far apart they are: the list above
// them takes what the screen's shape leaves.
struct StatusRows {
    short listHeight;
    short firstRow;
    short buttonsRow;
};

std::vector<BYTE> StatusDialog(short cy, const char16_t* face, StatusRows rows)
{
    DialogTemplateWriter writer(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_EX_CAPTIONOKBTN, 0, 0, 156, cy,
                                u"Tavrel Status");
    writer.Font(8, face);
    const short y = rows.firstRow;
    for (const Item& control : {
             Control(IDC_HEALTH, u"LISTBOX", u"", kHealthListStyle, {4, 4, 148, rows.listHeight}),
             Control(IDC_TCP_SERVER, u"BUTTON", u"TCP server", kCheckBoxStyle, {4, static_cast<short>(y + 1), 60, 10}),
             Control(IDC_STATIC, u"STATIC", u"Port", kLabelStyle, {72, static_cast<short>(y + 2), 18, 8}),
             Control(IDC_TCP_PORT, u"COMBOBOX", u"", kTextBoxStyle, {92, y, 60, 60}),
             Control(IDC_TCP_ANY_ADDRESS, u"BUTTON", u"Allow other computers", kCheckBoxStyle,
                     {4, static_cast<short>(y + 15), 148, 10}),
             Control(IDC_STATIC, u"STATIC", u"Allow", kLabelStyle, {4, static_cast<short>(y + 30), 24, 8}),
             Control(IDC_TCP_ALLOW, u"COMBOBOX", u"", kTextBoxStyle, {32, static_cast<short>(y + 28), 120, 60}),
             Control(IDC_STATIC, u"STATIC", u"UDP to", kLabelStyle, {4, static_cast<short>(y + 44), 26, 8}),
             Control(IDC_UDP_TARGET, u"COMBOBOX", u"", kTextBoxStyle, {32, static_cast<short>(y + 42), 120, 60}),
             Control(IDC_APPLY, u"BUTTON", u"Apply", kPushButtonStyle, {4, rows.buttonsRow, 50, 14}),
             Control(IDC_REACH, u"BUTTON", u"More\u2026", kPushButtonStyle, {56, rows.buttonsRow, 44, 14}),
             Control(IDCANCEL, u"BUTTON", u"Cancel", kPushButtonStyle, {102, rows.buttonsRow, 50, 14}),
         }) {
        writer.Add(control);
    }
    return writer.Bytes();
}

// Taller than the main window: the list takes the room the screen has below it.
std::vector<BYTE> PortraitStatusDialog() { return StatusDialog(205, u"MS Sans Serif", {118, 124, 185}); }
std::vector<BYTE> LandscapeStatusDialog() { return StatusDialog(155, u"MS Shell Dlg", {72, 78, 138}); }

// The dialogs below the main window: a caption with an OK button, a modal
// frame, and Cancel in the bottom right corner.
DialogTemplateWriter FormDialog(short cx, short cy, const char16_t* face, const char16_t* caption)
{
    DialogTemplateWriter writer(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_EX_CAPTIONOKBTN, 0, 0, cx, cy,
                                caption);
    writer.Font(8, face);
    return writer;
}

Item CancelButton(short cx, short cy)
{
    return Control(IDCANCEL, u"BUTTON", u"Cancel", kPushButtonStyle,
                   {static_cast<short>(cx - 54), static_cast<short>(cy - 18), 50, 14});
}

// The Inputs dialog: the list of inputs, and the buttons that change it under it.
std::vector<BYTE> InputsDialog(short cx, short cy, const char16_t* face, short listHeight)
{
    DialogTemplateWriter writer = FormDialog(cx, cy, face, u"Tavrel Inputs");
    const short width = static_cast<short>(cx - 8);
    const short button = static_cast<short>((width - 8) / 3);
    const short row = static_cast<short>(listHeight + 8);
    for (const Item& control : {
             Control(IDC_INPUT_LIST, u"LISTBOX", u"", kOutputListStyle, {4, 4, width, listHeight}),
             Control(IDC_INPUT_ADD, u"BUTTON", u"Add", kPushButtonStyle, {4, row, button, 14}),
             Control(IDC_INPUT_EDIT, u"BUTTON", u"Edit", kPushButtonStyle,
                     {static_cast<short>(8 + button), row, button, 14}),
             Control(IDC_INPUT_REMOVE, u"BUTTON", u"Remove", kPushButtonStyle,
                     {static_cast<short>(12 + 2 * button), row, button, 14}),
             CancelButton(cx, cy),
         }) {
        writer.Add(control);
    }
    return writer.Bytes();
}

// A row of a form: the label and, right of it, its box.
struct Row {
    const char16_t* label;
    WORD id;
    DWORD style;
    short width;
};

void AddLabelledBox(DialogTemplateWriter& writer, const Row& row, short x, short y, short labelWidth)
{
    writer.Add(Control(IDC_STATIC, u"STATIC", row.label, kLabelStyle, {x, static_cast<short>(y + 2), labelWidth, 8}));
    const short boxX = static_cast<short>(x + labelWidth + 2);
    writer.Add(Control(row.id, u"COMBOBOX", u"", row.style, {boxX, y, row.width, 100}));
}

// The rows one under another from `y`, 15 apart; the y under the last.
short AddRows(DialogTemplateWriter& writer, short y, short labelWidth, std::initializer_list<Row> rows)
{
    for (const Row& row : rows) {
        AddLabelledBox(writer, row, 4, y, labelWidth);
        y = static_cast<short>(y + 15);
    }
    return y;
}

// One input: a row per choice, the label left of its box, and the start-up
// command, long, under its label across the dialog; small enough for either screen.
std::vector<BYTE> InputEditDialog()
{
    DialogTemplateWriter writer = FormDialog(156, 144, u"MS Shell Dlg", u"Edit Input");
    const short y = AddRows(writer, 6, 56,
                            {{u"Kind", IDC_INPUT_KIND, kChoiceListStyle, 60},
                             {u"Where", IDC_INPUT_PLACE, kTextBoxStyle, 90},
                             {u"Baud", IDC_INPUT_BAUD, kChoiceListStyle, 60},
                             {u"Name", IDC_INPUT_NAME, kTextBoxStyle, 90},
                             {u"Group", IDC_INPUT_GROUP, kTextBoxStyle, 90},
                             {u"Stands by for", IDC_INPUT_STANDBY, kChoiceListStyle, 90}});
    writer.Add(Control(IDC_STATIC, u"STATIC", u"Start-up command", kLabelStyle,
                       {4, static_cast<short>(y + 2), 148, 8}));
    writer.Add(Control(IDC_INPUT_INIT, u"COMBOBOX", u"", kTextBoxStyle,
                       {4, static_cast<short>(y + 12), 148, 100}));
    writer.Add(CancelButton(156, 144));
    return writer.Bytes();
}

// An output port's settings: whether its program talks and to which input,
// then how its stream is shaped, a row each. The portrait screen gives the
// input talked to a row of its own; the landscape one puts it beside Talk.
std::vector<BYTE> PortSettingsDialog(short cx, short cy, const char16_t* face, bool portrait)
{
    DialogTemplateWriter writer = FormDialog(cx, cy, face, u"Port Settings");
    const short labelWidth = portrait ? 40 : 26;
    const short wide = static_cast<short>(cx - 10 - labelWidth);
    const Row talk{u"Talk", IDC_PORT_TALK, kChoiceListStyle, 40};
    const Row to{u"To input", IDC_PORT_TALK_TO, kChoiceListStyle, portrait ? wide : short{56}};
    short y = 6;
    if (portrait) {
        y = AddRows(writer, y, labelWidth, {talk, to});
    } else {
        AddLabelledBox(writer, talk, 4, y, labelWidth);
        AddLabelledBox(writer, to, static_cast<short>(cx - 94), y, 32);
        y = static_cast<short>(y + 15);
    }
    y = AddRows(writer, y, labelWidth,
                {{u"Only", IDC_PORT_ONLY, kTextBoxStyle, wide},
                 {u"Deny", IDC_PORT_DENY, kTextBoxStyle, wide},
                 {u"Talker", IDC_PORT_TALKER, kTextBoxStyle, wide},
                 {u"Every", IDC_PORT_EVERY, kTextBoxStyle, wide}});
    const short width = static_cast<short>(cx - 8);
    writer.Add(Control(IDC_PORT_CHECKSUM, u"BUTTON", u"Drop bad checksums", kCheckBoxStyle,
                       {4, static_cast<short>(y + 1), width, 10}));
    writer.Add(Control(IDC_STATIC, u"STATIC", u"Changes count from the relay's next start.", kLabelStyle,
                       {4, static_cast<short>(y + 16), width, 8}));
    writer.Add(CancelButton(cx, cy));
    return writer.Bytes();
}

// The outputs beyond this machine: the TCP server's announcement, the
// servers the stream is sent to, and the MQTT broker with its topic, QoS
// and TLS; small enough for either screen.
std::vector<BYTE> NetworkReachDialog()
{
    DialogTemplateWriter writer = FormDialog(156, 130, u"MS Shell Dlg", u"Tavrel Network");
    const short labelWidth = 38;
    const short wide = 156 - 10 - labelWidth;
    const short y = AddRows(writer, 6, labelWidth,
                            {{u"Announce", IDC_ANNOUNCE, kChoiceListStyle, 44},
                             {u"Send to", IDC_TCP_CONNECT, kTextBoxStyle, wide},
                             {u"MQTT to", IDC_MQTT_BROKER, kTextBoxStyle, wide},
                             {u"Topic", IDC_MQTT_TOPIC, kTextBoxStyle, wide}});
    AddLabelledBox(writer, {u"QoS", IDC_MQTT_QOS, kChoiceListStyle, 26}, 4, y, labelWidth);
    writer.Add(Control(IDC_MQTT_RETAIN_RMC, u"BUTTON", u"Keep last RMC", kCheckBoxStyle,
                       {76, static_cast<short>(y + 1), 76, 10}));
    AddRows(writer, static_cast<short>(y + 15), labelWidth,
            {{u"CA file", IDC_MQTT_TLS_CA, kTextBoxStyle, wide},
             {u"Login file", IDC_MQTT_CREDENTIALS, kTextBoxStyle, wide}});
    writer.Add(CancelButton(156, 130));
    return writer.Bytes();
}

void RegisterDialog(WORD id, const std::vector<BYTE>& dialogTemplate, const WCHAR* failure)
{
    if (!platform::AddModuleResource(RT_DIALOG, id, dialogTemplate)) {
        OutputDebugStringW(failure);
    }
}

struct DialogRegistration {
    DialogRegistration()
    {
        RegisterDialog(IDD_MAIN_PORTRAIT, PortraitMainWindow(), u"Dialog 105 could not be registered\n");
        RegisterDialog(IDD_MAIN_LANDSCAPE, LandscapeMainWindow(), u"Dialog 106 could not be registered\n");
        RegisterDialog(IDD_ABOUT, AboutBox(), u"Dialog 107 could not be registered\n");
        RegisterDialog(IDD_STATUS_PORTRAIT, PortraitStatusDialog(), u"Dialog 108 could not be registered\n");
        RegisterDialog(IDD_STATUS_LANDSCAPE, LandscapeStatusDialog(), u"Dialog 109 could not be registered\n");
        RegisterDialog(IDD_INPUTS_PORTRAIT, InputsDialog(156, 165, u"MS Sans Serif", 118),
                       u"Dialog 110 could not be registered\n");
        RegisterDialog(IDD_INPUTS_LANDSCAPE, InputsDialog(172, 129, u"MS Shell Dlg", 82),
                       u"Dialog 111 could not be registered\n");
        RegisterDialog(IDD_INPUT_EDIT, InputEditDialog(), u"Dialog 112 could not be registered\n");
        RegisterDialog(IDD_PORT_SETTINGS_PORTRAIT, PortSettingsDialog(156, 145, u"MS Sans Serif", true),
                       u"Dialog 113 could not be registered\n");
        RegisterDialog(IDD_PORT_SETTINGS_LANDSCAPE, PortSettingsDialog(172, 129, u"MS Shell Dlg", false),
                       u"Dialog 114 could not be registered\n");
        RegisterDialog(IDD_NETWORK_REACH, NetworkReachDialog(), u"Dialog 115 could not be registered\n");
    }
} const dialogRegistration;

}  // namespace
