// The program's resources (dialog templates, icons), as a resource compiler
// would have linked them into its module, and the tools to write and read
// them. FindResourceW and friends (user.h) find them in the module that
// GetModuleHandleW(nullptr) returns.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/user.h"

namespace platform {

// Adds (or replaces) a resource of the program's module; the bytes are copied.
// `type` and `name` are MAKEINTRESOURCEW ids or texts (compared without regard
// to case). A replaced resource's old bytes stay where they were, so a pointer
// that LockResource gave out remains valid for the life of the process.
// False, and nothing added, for a null type or name, id 0 or an empty text.
bool AddModuleResource(LPCWSTR type, LPCWSTR name, std::span<const BYTE> bytes);
bool AddModuleResource(LPCWSTR type, WORD id, std::span<const BYTE> bytes);

// Adds the contents of an .ico file as a resource compiler does: every image
// becomes an RT_ICON resource with the next unused icon ids, and the file's
// directory becomes the RT_GROUP_ICON resource `groupId` that names them.
// False, and nothing added, for a file that is not a well-formed .ico.
bool AddIconFileResources(WORD groupId, std::span<const BYTE> icoFile);

// Builds a dialog template in the published binary form (DLGTEMPLATE, then
// the menu, class and caption, the font when DS_SETFONT is set, then each
// DLGITEMTEMPLATE on a DWORD boundary).
class DialogTemplateWriter {
public:
    struct Item {
        WORD id;
        std::u16string className;     // "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX" or another
        std::u16string text;          // ignored when textResource is set
        std::optional<WORD> textResource;   // an ordinal in place of the text (an icon's id for SS_ICON)
        DWORD style;
        DWORD exStyle;
        short x, y, cx, cy;

        friend bool operator==(const Item&, const Item&) = default;
    };

    DialogTemplateWriter(DWORD style, DWORD exStyle, short x, short y, short cx, short cy, std::u16string caption);
    // Sets the font and adds DS_SETFONT to the dialog's style.
    DialogTemplateWriter& Font(WORD pointSize, std::u16string face);
    // A template holds at most 65535 items (its count is a WORD); one more
    // throws std::length_error.
    DialogTemplateWriter& Add(const Item& item);
    std::vector<BYTE> Bytes() const;

private:
    DWORD style_;
    DWORD exStyle_;
    short x_, y_, cx_, cy_;
    std::u16string caption_;
    WORD pointSize_ = 0;
    std::u16string face_;
    std::vector<Item> items_;
};

// A dialog template read back; predefined class atoms come back as the class
// names above, in capitals. A menu, a dialog class and creation data are
// skipped: nothing here uses them.
struct DialogTemplateContent {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::u16string caption;
    WORD pointSize = 0;
    std::u16string face;
    std::vector<DialogTemplateWriter::Item> items;
};
// Null for a template that is malformed, in the extended (DLGTEMPLATEEX) form,
// names an unknown class atom, or runs past `size` bytes; nothing past `size`
// is ever read. SIZE_MAX trusts the template to be as long as it says, as the
// dialog manager does with a template in memory.
std::optional<DialogTemplateContent> ReadDialogTemplate(const void* dialogTemplate, std::size_t size);

// An icon loaded with LoadIconW: 24-bit pixels, top row first, and which
// pixels are transparent. Icons live as long as the process.
struct IconImage {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;             // of the stored image: 24 or 32
    std::vector<std::uint32_t> rgb;   // 0x00RRGGBB, width * height
    std::vector<bool> transparent;    // from the AND mask
};
// Null for a handle that LoadIconW did not return.
const IconImage* IconImageOf(HICON icon);

}  // namespace platform
