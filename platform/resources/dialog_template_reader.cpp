// Reads dialog templates in the published binary form, never past the size
// that the caller gives. The layout is described in the writer.
#include <cstring>
#include <type_traits>

#include "platform/resources.h"
#include "resources/dialog_classes.h"

namespace platform {
namespace {

// The signature that starts an extended template (DLGTEMPLATEEX): version 1
// in the first WORD, 0xFFFF in the second, where a standard template has its
// style.
constexpr DWORD kExtendedTemplateSignature = 0xFFFF0001;

// A text, or 0xFFFF and an ordinal.
struct TextOrOrdinal {
    std::u16string text;
    std::optional<WORD> ordinal;
};

// A position in the template that only moves forward and never past the
// end. Alignment counts from the template's first byte.
class TemplateReader {
public:
    TemplateReader(const BYTE* first, std::size_t size) : first_(first), size_(size) {}

    template <typename T>
        requires std::is_trivially_copyable_v<T>
    bool Get(T& value)
    {
        if (!Skip(sizeof(T))) {
            return false;
        }
        std::memcpy(&value, first_ + offset_ - sizeof(T), sizeof(T));
        return true;
    }

    bool Skip(std::size_t count)
    {
        if (count > size_ - offset_) {
            return false;
        }
        offset_ += count;
        return true;
    }

    bool AlignToDword() { return Skip((4 - offset_ % 4) % 4); }

    // A text up to its terminator; a text with no terminator before the end
    // is malformed.
    bool GetText(std::u16string& text)
    {
        for (WORD c = 0; Get(c);) {
            if (c == 0) {
                return true;
            }
            text.push_back(static_cast<char16_t>(c));
        }
        return false;
    }

    bool GetTextOrOrdinal(TextOrOrdinal& field)
    {
        WORD first = 0;
        if (!Get(first)) {
            return false;
        }
        if (first == resources::kOrdinalFollows) {
            WORD ordinal = 0;
            if (!Get(ordinal)) {
                return false;
            }
            field.ordinal = ordinal;
            return true;
        }
        if (first == 0) {
            return true;
        }
        field.text.push_back(static_cast<char16_t>(first));
        return GetText(field.text);
    }

    // A size WORD that counts itself, then that many bytes less two; 0 means
    // no creation data.
    bool SkipCreationData()
    {
        WORD stated = 0;
        if (!Get(stated)) {
            return false;
        }
        const std::size_t size = stated;
        return size == 0 || (size >= sizeof(WORD) && Skip(size - sizeof(WORD)));
    }

private:
    const BYTE* first_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

bool ReadHeader(TemplateReader& in, DialogTemplateContent& content, WORD& count)
{
    DLGTEMPLATE header{};
    if (!in.Get(header) || header.style == kExtendedTemplateSignature) {
        return false;
    }
    content.style = header.style;
    content.exStyle = header.dwExtendedStyle;
    content.x = header.x;
    content.y = header.y;
    content.cx = header.cx;
    content.cy = header.cy;
    count = header.cdit;
    TextOrOrdinal menu;
    TextOrOrdinal dialogClass;
    if (!in.GetTextOrOrdinal(menu) || !in.GetTextOrOrdinal(dialogClass) || !in.GetText(content.caption)) {
        return false;
    }
    return (content.style & DS_SETFONT) == 0 || (in.Get(content.pointSize) && in.GetText(content.face));
}

std::optional<std::u16string> ClassNameOf(const TextOrOrdinal& field)
{
    if (!field.ordinal) {
        return field.text;
    }
    const auto name = resources::ClassOfAtom(*field.ordinal);
    return name ? std::optional(std::u16string(*name)) : std::nullopt;
}

std::optional<DialogTemplateWriter::Item> ReadItem(TemplateReader& in)
{
    DLGITEMTEMPLATE header{};
    TextOrOrdinal classField;
    TextOrOrdinal textField;
    if (!in.AlignToDword() || !in.Get(header) || !in.GetTextOrOrdinal(classField) ||
        !in.GetTextOrOrdinal(textField) || !in.SkipCreationData()) {
        return std::nullopt;
    }
    auto className = ClassNameOf(classField);
    if (!className) {
        return std::nullopt;
    }
    DialogTemplateWriter::Item item{};
    item.id = header.id;
    item.className = std::move(*className);
    item.text = std::move(textField.text);
    item.textResource = textField.ordinal;
    item.style = header.style;
    item.exStyle = header.dwExtendedStyle;
    item.x = header.x;
    item.y = header.y;
    item.cx = header.cx;
    item.cy = header.cy;
    return item;
}

}  // namespace

std::optional<DialogTemplateContent> ReadDialogTemplate(const void* dialogTemplate, std::size_t size)
{
    if (dialogTemplate == nullptr) {
        return std::nullopt;
    }
    TemplateReader in(static_cast<const BYTE*>(dialogTemplate), size);
    DialogTemplateContent content{};
    WORD count = 0;
    if (!ReadHeader(in, content, count)) {
        return std::nullopt;
    }
    for (WORD i = 0; i < count; ++i) {
        auto item = ReadItem(in);
        if (!item) {
            return std::nullopt;
        }
        content.items.push_back(std::move(*item));
    }
    return content;
}

}  // namespace platform
