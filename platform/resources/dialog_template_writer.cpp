// Dialog templates in the published binary form (not the extended form):
//   DLGTEMPLATE, menu, class, caption[, point size, face]
//   then per control, on a DWORD boundary:
//   DLGITEMTEMPLATE, class (0xFFFF + atom, or a name), text (a text, or
//   0xFFFF + ordinal), creation data size (0).
#include <bit>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "platform/resources.h"
#include "resources/dialog_classes.h"

namespace platform {
namespace {

static_assert(std::endian::native == std::endian::little, "templates are stored little-endian, as on the device");
static_assert(sizeof(DLGTEMPLATE) == 18 && sizeof(DLGITEMTEMPLATE) == 18);

class TemplateBytes {
public:
    template <typename T>
        requires std::is_trivially_copyable_v<T>
    void Put(const T& value)
    {
        const auto* first = reinterpret_cast<const BYTE*>(&value);
        bytes_.insert(bytes_.end(), first, first + sizeof(T));
    }

    void PutText(const std::u16string& text)
    {
        for (const char16_t c : text) {
            Put(static_cast<WORD>(c));
        }
        Put(WORD{0});
    }

    void PutOrdinal(WORD ordinal)
    {
        Put(resources::kOrdinalFollows);
        Put(ordinal);
    }

    void AlignToDword() { bytes_.resize((bytes_.size() + 3) & ~std::size_t{3}, BYTE{0}); }

    std::vector<BYTE> Take() { return std::move(bytes_); }

private:
    std::vector<BYTE> bytes_;
};

void PutItem(TemplateBytes& out, const DialogTemplateWriter::Item& item)
{
    out.AlignToDword();
    out.Put(DLGITEMTEMPLATE{item.style, item.exStyle, item.x, item.y, item.cx, item.cy, item.id});
    if (const auto atom = resources::AtomOfClass(item.className)) {
        out.PutOrdinal(*atom);
    } else {
        out.PutText(item.className);
    }
    if (item.textResource) {
        out.PutOrdinal(*item.textResource);
    } else {
        out.PutText(item.text);
    }
    out.Put(WORD{0});   // no creation data
}

}  // namespace

DialogTemplateWriter::DialogTemplateWriter(DWORD style, DWORD exStyle, short x, short y, short cx, short cy,
                                           std::u16string caption)
    : style_(style), exStyle_(exStyle), x_(x), y_(y), cx_(cx), cy_(cy), caption_(std::move(caption))
{
}

DialogTemplateWriter& DialogTemplateWriter::Font(WORD pointSize, std::u16string face)
{
    style_ |= DS_SETFONT;
    pointSize_ = pointSize;
    face_ = std::move(face);
    return *this;
}

DialogTemplateWriter& DialogTemplateWriter::Add(const Item& item)
{
    if (items_.size() == 0xFFFF) {
        throw std::length_error("a dialog template holds at most 65535 controls");
    }
    items_.push_back(item);
    return *this;
}

std::vector<BYTE> DialogTemplateWriter::Bytes() const
{
    TemplateBytes out;
    out.Put(DLGTEMPLATE{style_, exStyle_, static_cast<WORD>(items_.size()), x_, y_, cx_, cy_});
    out.Put(resources::kNoEntry);   // no menu
    out.Put(resources::kNoEntry);   // the predefined dialog class
    out.PutText(caption_);
    if ((style_ & DS_SETFONT) != 0) {
        out.Put(pointSize_);
        out.PutText(face_);
    }
    for (const Item& item : items_) {
        PutItem(out, item);
    }
    return out.Take();
}

}  // namespace platform
