// The program's resources as its module carries them: the three dialog
// templates, control by control, and the two icons.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/resources.h"
#include "resources/resource_ids.h"

namespace {

using Item = platform::DialogTemplateWriter::Item;

constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;

struct Control {
    WORD id;
    const char16_t* className;
    const char16_t* text;
    DWORD style;
    short x, y, cx, cy;
};

std::vector<Item> Items(std::initializer_list<Control> controls)
{
    std::vector<Item> items;
    for (const Control& c : controls) {
        items.push_back(Item{c.id, c.className, c.text, std::nullopt, c.style, 0, c.x, c.y, c.cx, c.cy});
    }
    return items;
}

// The styles of the main window's controls, written out in full.
constexpr DWORD kInputPort = CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kBaud = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kFreeOutputs = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = SS_LEFT | WS_GROUP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kOutputList = WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE;
constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kStartStop = BS_PUSHBUTTON | BS_MULTILINE | BS_CENTER | BS_VCENTER | WS_TABSTOP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kGroup = BS_GROUPBOX | WS_CHILD | WS_VISIBLE;
constexpr DWORD kAutostart = BS_AUTOCHECKBOX | WS_TABSTOP | WS_CHILD | WS_VISIBLE;
constexpr DWORD kReconnect = kAutostart;

const std::vector<Item> kPortraitControls = Items({
    {1002, u"COMBOBOX", u"", kInputPort, 35, 12, 109, 100},
    {1004, u"COMBOBOX", u"", kBaud, 35, 27, 69, 102},
    {0xFFFF, u"STATIC", u"Port", kLabel, 15, 14, 14, 8},
    {0xFFFF, u"STATIC", u"Baud", kLabel, 15, 29, 18, 8},
    {1007, u"COMBOBOX", u"", kFreeOutputs, 13, 62, 47, 90},
    {1006, u"LISTBOX", u"", kOutputList, 64, 62, 33, 28},
    {1008, u"BUTTON", u"Add", kPush, 13, 78, 47, 12},
    {1009, u"BUTTON", u"Delete", kPush, 13, 94, 47, 12},
    {2, u"BUTTON", u"Exit", kPush, 102, 145, 50, 14},
    {1010, u"BUTTON", u"START SPLITTER", kStartStop, 101, 62, 44, 44},
    {0xFFFF, u"BUTTON", u"Input", kGroup, 4, 1, 148, 45},
    {0xFFFF, u"BUTTON", u"Output", kGroup, 4, 51, 148, 63},
    {1016, u"BUTTON", u"About", kPush, 4, 145, 50, 14},
    {1017, u"BUTTON", u"Autostart", kAutostart, 4, 123, 145, 10},
    {1018, u"BUTTON", u"Reconnect", kReconnect, 4, 134, 145, 10},
    {1019, u"BUTTON", u"Status", kPush, 56, 145, 44, 14},
    {1020, u"BUTTON", u"Inputs", kPush, 108, 26, 40, 13},
    {1021, u"BUTTON", u"Set\u2026", kPush, 64, 94, 33, 12},
});

// The button column is 66 units wide (and the group boxes around it 164), so
// that "START SPLITTER" fits Start/Stop on one line.
const std::vector<Item> kLandscapeControls = Items({
    {1002, u"COMBOBOX", u"", kInputPort, 30, 11, 98, 100},
    {1004, u"COMBOBOX", u"", kBaud, 30, 26, 69, 102},
    {0xFFFF, u"STATIC", u"Port", kLabel, 10, 13, 14, 8},
    {0xFFFF, u"STATIC", u"Baud", kLabel, 10, 28, 18, 8},
    {1017, u"BUTTON", u"Autostart", kAutostart, 102, 28, 47, 10},
    {0xFFFF, u"BUTTON", u"Input", kGroup, 4, 0, 164, 45},
    {1007, u"COMBOBOX", u"", kFreeOutputs, 10, 59, 47, 90},
    {1006, u"LISTBOX", u"", kOutputList, 61, 59, 33, 28},
    {1008, u"BUTTON", u"Add", kPush, 10, 75, 47, 12},
    {1009, u"BUTTON", u"Delete", kPush, 10, 91, 47, 12},
    {1010, u"BUTTON", u"START", kStartStop, 98, 59, 66, 14},
    {2, u"BUTTON", u"Exit", kPush, 98, 74, 66, 14},
    {1016, u"BUTTON", u"About", kPush, 98, 89, 66, 14},
    {0xFFFF, u"BUTTON", u"Output", kGroup, 4, 48, 164, 63},
    {1018, u"BUTTON", u"Reconnect", kReconnect, 4, 114, 90, 10},
    {1019, u"BUTTON", u"Status", kPush, 98, 113, 66, 14},
    {1020, u"BUTTON", u"Inputs", kPush, 131, 10, 33, 13},
    {1021, u"BUTTON", u"Set\u2026", kPush, 61, 91, 33, 12},
});

// The template as the program loads it, read within its resource's size.
platform::DialogTemplateContent DialogResource(WORD id)
{
    const HMODULE program = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(id), RT_DIALOG);
    EXPECT_NE(found, nullptr) << id;
    const void* bytes = LockResource(LoadResource(program, found));
    EXPECT_NE(bytes, nullptr) << id;
    const auto content = platform::ReadDialogTemplate(bytes, SizeofResource(program, found));
    EXPECT_TRUE(content.has_value()) << id;
    return content.value_or(platform::DialogTemplateContent{});
}

void ExpectMainWindowFrame(const platform::DialogTemplateContent& dialog, short cx, short cy, const char16_t* face)
{
    EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT);
    EXPECT_EQ(dialog.exStyle, WS_EX_CAPTIONOKBTN);
    EXPECT_EQ(dialog.caption, u"Tavrel V1.20");
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, cx);
    EXPECT_EQ(dialog.cy, cy);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.face, face);
}

void ExpectControls(const std::vector<Item>& actual, const std::vector<Item>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "control #" << i + 1 << " (id " << expected[i].id << ")";
    }
}

TEST(ProgramDialogs, PortraitMainWindowHasEveryControlInTemplateOrder)
{
    const auto dialog = DialogResource(IDD_MAIN_PORTRAIT);
    ExpectMainWindowFrame(dialog, 156, 165, u"MS Sans Serif");
    ExpectControls(dialog.items, kPortraitControls);
}

TEST(ProgramDialogs, LandscapeMainWindowHasEveryControlInTemplateOrder)
{
    const auto dialog = DialogResource(IDD_MAIN_LANDSCAPE);
    ExpectMainWindowFrame(dialog, 172, 129, u"MS Shell Dlg");
    ExpectControls(dialog.items, kLandscapeControls);
}

TEST(ProgramDialogs, AboutBoxShowsTheProgramIcon)
{
    const auto dialog = DialogResource(IDD_ABOUT);
    EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.caption, u"About Tavrel");
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 156);
    EXPECT_EQ(dialog.cy, 129);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.face, u"MS Shell Dlg");
    ExpectControls(dialog.items, {Item{0xFFFF, u"STATIC", u"", WORD{101}, SS_ICON | kShown, 0, 7, 7, 20, 20}});
}

TEST(ProgramDialogs, TheDialogManagersTrustedReadMatchesTheBoundedOne)
{
    for (const WORD id : {IDD_MAIN_PORTRAIT, IDD_MAIN_LANDSCAPE, IDD_ABOUT}) {
        const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_DIALOG);
        const void* bytes = LockResource(LoadResource(nullptr, found));
        const auto trusted = platform::ReadDialogTemplate(bytes, SIZE_MAX);
        ASSERT_TRUE(trusted.has_value()) << id;
        EXPECT_EQ(trusted->items, DialogResource(id).items) << id;
    }
}

// The icon's stored image (RT_ICON), as its group names it.
struct StoredIcon {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

StoredIcon OnlyImageOfGroup(WORD id)
{
    const HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
    if (bytes == nullptr || SizeofResource(nullptr, group) != 6 + 14) {
        ADD_FAILURE() << "icon " << id << " is not a group of one image";
        return {};
    }
    return StoredIcon{bytes[6], bytes[7], bytes[12] | bytes[13] << 8};
}

void ExpectAPicture(const platform::IconImage& image)
{
    // A real picture: many colours, a transparent outline and a solid middle.
    const std::set<std::uint32_t> colours(image.rgb.begin(), image.rgb.end());
    EXPECT_GE(colours.size(), 8u);
    EXPECT_TRUE(image.transparent.front());
    EXPECT_TRUE(image.transparent.back());
    const auto middle = static_cast<std::size_t>(image.height / 2 * image.width + image.width / 2);
    EXPECT_FALSE(image.transparent[middle]);
}

TEST(ProgramIcons, ProgramAndTrayIconsHaveTheirSizesIn24BitColour)
{
    const HMODULE program = GetModuleHandleW(nullptr);
    for (const auto& [id, side] : {std::pair<WORD, int>{IDI_PROGRAM, 32}, std::pair<WORD, int>{IDI_TRAY, 16}}) {
        const StoredIcon stored = OnlyImageOfGroup(id);
        EXPECT_EQ(stored.width, side) << id;
        EXPECT_EQ(stored.height, side) << id;
        EXPECT_EQ(stored.bitsPerPixel, 24) << id;

        const HICON icon = LoadIconW(program, MAKEINTRESOURCEW(id));
        ASSERT_NE(icon, nullptr) << id;
        EXPECT_EQ(LoadIconW(program, MAKEINTRESOURCEW(id)), icon) << id;
        const platform::IconImage* image = platform::IconImageOf(icon);
        ASSERT_NE(image, nullptr) << id;
        EXPECT_EQ(image->width, side) << id;
        EXPECT_EQ(image->height, side) << id;
        EXPECT_EQ(image->bitsPerPixel, 24) << id;
        ExpectAPicture(*image);
    }
    EXPECT_NE(LoadIconW(program, MAKEINTRESOURCEW(IDI_PROGRAM)), LoadIconW(program, MAKEINTRESOURCEW(IDI_TRAY)));
}

}  // namespace
