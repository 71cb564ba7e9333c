// The bounded printf-style formatter behind StringCchPrintfW.
#include <algorithm>
#include <string>

#include "platform/strings.h"

namespace platform {

long long FormatArg::AsSigned() const
{
    return kind_ == Kind::Signed ? signed_ : static_cast<long long>(unsigned_);
}

unsigned long long FormatArg::AsUnsigned() const
{
    return kind_ == Kind::Signed ? static_cast<unsigned long long>(signed_) : unsigned_;
}

namespace {

enum class Size { Char, Short, Default, Long64 };

struct Field {
    bool leftAlign = false;
    bool plus = false;
    bool space = false;
    bool zeroPad = false;
    bool alternate = false;
    std::size_t width = 0;
    int precision = -1;
    Size size = Size::Default;
    bool wideText = false;     // l or w prefix
    bool narrowText = false;   // h prefix
    char16_t conversion = 0;
};

class Parser {
public:
    explicit Parser(const WCHAR* at) : at_(at) {}

    // Reads a conversion field after '%'; false when it is malformed.
    bool ReadField(Field& field)
    {
        ReadFlags(field);
        field.width = ReadNumber();
        if (*at_ == u'.') {
            ++at_;
            field.precision = static_cast<int>(std::min<std::size_t>(ReadNumber(), 4096));
        }
        ReadSize(field);
        field.conversion = *at_;
        if (field.conversion == u'\0') {
            return false;
        }
        ++at_;
        return field.width <= 4096;
    }

    const WCHAR*& position() { return at_; }

private:
    void ReadFlags(Field& field)
    {
        for (;; ++at_) {
            switch (*at_) {
            case u'-': field.leftAlign = true; break;
            case u'+': field.plus = true; break;
            case u' ': field.space = true; break;
            case u'0': field.zeroPad = true; break;
            case u'#': field.alternate = true; break;
            default: return;
            }
        }
    }

    std::size_t ReadNumber()
    {
        std::size_t value = 0;
        while (*at_ >= u'0' && *at_ <= u'9') {
            value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(*at_ - u'0'), 1u << 20);
            ++at_;
        }
        return value;
    }

    void ReadSize(Field& field)
    {
        const std::u16string_view rest(at_);
        if (rest.starts_with(u"I64") || rest.starts_with(u"ll")) {
            field.size = Size::Long64;
            at_ += rest.starts_with(u"I64") ? 3 : 2;
        } else if (rest.starts_with(u"I32")) {
            at_ += 3;
        } else if (rest.starts_with(u"hh")) {
            field.size = Size::Char;
            field.narrowText = true;
            at_ += 2;
        } else if (*at_ == u'h') {
            field.size = Size::Short;
            field.narrowText = true;
            ++at_;
        } else if (*at_ == u'l' || *at_ == u'w') {
            field.wideText = true;
            ++at_;
        }
    }

    const WCHAR* at_;
};

class Output {
public:
    Output(WCHAR* buffer, std::size_t size) : buffer_(buffer), size_(size) {}

    void Put(char16_t c)
    {
        if (used_ + 1 < size_) {
            buffer_[used_++] = c;
        } else {
            truncated_ = true;
        }
    }
    void Put(std::u16string_view text)
    {
        for (char16_t c : text) {
            Put(c);
        }
    }
    void Pad(std::size_t count, char16_t fill)
    {
        for (std::size_t i = 0; i < count; ++i) {
            Put(fill);
        }
    }
    HRESULT Finish()
    {
        buffer_[used_] = u'\0';
        return truncated_ ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
    }
    HRESULT Fail()
    {
        buffer_[0] = u'\0';
        return STRSAFE_E_INVALID_PARAMETER;
    }

private:
    WCHAR* buffer_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool truncated_ = false;
};

// Writes body with the field's width; `prefix` (sign, 0x) stays before zero padding.
void PutField(Output& out, const Field& field, std::u16string_view prefix, std::u16string_view body, bool numeric)
{
    const std::size_t length = prefix.size() + body.size();
    const std::size_t padding = field.width > length ? field.width - length : 0;
    const bool zeros = numeric && field.zeroPad && !field.leftAlign && field.precision < 0;
    if (!field.leftAlign && !zeros) {
        out.Pad(padding, u' ');
    }
    out.Put(prefix);
    if (zeros) {
        out.Pad(padding, u'0');
    }
    out.Put(body);
    if (field.leftAlign) {
        out.Pad(padding, u' ');
    }
}

unsigned long long Truncate(unsigned long long value, Size size)
{
    switch (size) {
    case Size::Char: return value & 0xFFu;
    case Size::Short: return value & 0xFFFFu;
    case Size::Default: return value & 0xFFFFFFFFu;
    case Size::Long64: return value;
    }
    return value;
}

long long SignExtend(unsigned long long value, Size size)
{
    switch (size) {
    case Size::Char: return static_cast<signed char>(value);
    case Size::Short: return static_cast<short>(value);
    case Size::Default: return static_cast<int>(value & 0xFFFFFFFFu);
    case Size::Long64: return static_cast<long long>(value);
    }
    return static_cast<long long>(value);
}

std::u16string Digits(unsigned long long value, unsigned base, bool upper, int precision)
{
    const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
    std::u16string text;
    while (value != 0) {
        text.push_back(digits[value % base]);
        value /= base;
    }
    const std::size_t minimum = precision < 0 ? 1 : static_cast<std::size_t>(precision);
    while (text.size() < minimum) {
        text.push_back(u'0');
    }
    std::reverse(text.begin(), text.end());
    return text;
}

bool IsInteger(const FormatArg& arg)
{
    return arg.kind() == FormatArg::Kind::Signed || arg.kind() == FormatArg::Kind::Unsigned;
}

bool PutInteger(Output& out, const Field& field, const FormatArg& arg)
{
    if (!IsInteger(arg)) {
        return false;
    }
    const unsigned long long raw = Truncate(arg.AsUnsigned(), field.size);
    std::u16string prefix;
    std::u16string body;
    switch (field.conversion) {
    case u'd':
    case u'i': {
        const long long value = SignExtend(raw, field.size);
        const unsigned long long magnitude =
            value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        prefix = value < 0 ? u"-" : field.plus ? u"+" : field.space ? u" " : u"";
        body = Digits(magnitude, 10, false, field.precision);
        break;
    }
    case u'u': body = Digits(raw, 10, false, field.precision); break;
    case u'o': body = Digits(raw, 8, false, field.precision); break;
    case u'x':
    case u'X':
        body = Digits(raw, 16, field.conversion == u'X', field.precision);
        if (field.alternate && raw != 0) {
            prefix = field.conversion == u'X' ? u"0X" : u"0x";
        }
        break;
    default: return false;
    }
    PutField(out, field, prefix, body, true);
    return true;
}

std::u16string TextOf(const FormatArg& arg, bool narrow)
{
    if (narrow) {
        return arg.narrow() == nullptr ? u"(null)" : ToUtf16(arg.narrow());
    }
    return arg.wide() == nullptr ? u"(null)" : std::u16string(arg.wide());
}

bool PutText(Output& out, const Field& field, const FormatArg& arg)
{
    // In the wide printf family %s is wide text and %S narrow text.
    const bool narrow = field.conversion == u'S' ? !field.wideText : field.narrowText;
    const auto expected = narrow ? FormatArg::Kind::NarrowText : FormatArg::Kind::WideText;
    if (arg.kind() != expected) {
        return false;
    }
    std::u16string text = TextOf(arg, narrow);
    if (field.precision >= 0 && text.size() > static_cast<std::size_t>(field.precision)) {
        text.resize(static_cast<std::size_t>(field.precision));
    }
    PutField(out, field, u"", text, false);
    return true;
}

bool PutCharacter(Output& out, const Field& field, const FormatArg& arg)
{
    if (!IsInteger(arg)) {
        return false;
    }
    const auto c = static_cast<char16_t>(field.narrowText ? (arg.AsUnsigned() & 0xFFu) : arg.AsUnsigned());
    PutField(out, field, u"", std::u16string_view(&c, 1), false);
    return true;
}

bool PutConversion(Output& out, const Field& field, const FormatArg& arg)
{
    switch (field.conversion) {
    case u'd':
    case u'i':
    case u'u':
    case u'o':
    case u'x':
    case u'X': return PutInteger(out, field, arg);
    case u's':
    case u'S': return PutText(out, field, arg);
    case u'c':
    case u'C': return PutCharacter(out, field, arg);
    default: return false;
    }
}

}  // namespace

HRESULT FormatW(WCHAR* destination, std::size_t destinationSize, const WCHAR* format, const FormatArg* args,
                std::size_t argCount)
{
    if (destination == nullptr || destinationSize == 0) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    Output out(destination, destinationSize);
    if (format == nullptr) {
        return out.Fail();
    }
    Parser parser(format);
    const WCHAR*& at = parser.position();
    std::size_t next = 0;
    while (*at != u'\0') {
        if (*at != u'%') {
            out.Put(*at++);
            continue;
        }
        ++at;
        if (*at == u'%') {
            out.Put(*at++);
            continue;
        }
        Field field;
        if (!parser.ReadField(field) || next >= argCount || !PutConversion(out, field, args[next++])) {
            return out.Fail();
        }
    }
    if (next != argCount) {
        return out.Fail();
    }
    return out.Finish();
}

}  // namespace platform
