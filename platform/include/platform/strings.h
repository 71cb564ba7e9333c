// UTF-16 text helpers: the C runtime's wide-string calls for WCHAR, a bounded
// printf-style formatter that reports truncation (StringCchPrintfW), and the
// UTF-8 conversions used at the host edge.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/types.h"

// The wide-string calls of the device's C runtime, over WCHAR (char16_t).
std::size_t wcslen(const WCHAR* text);
int wcscmp(const WCHAR* left, const WCHAR* right);
const WCHAR* wcsstr(const WCHAR* text, const WCHAR* pattern);
WCHAR* wcsstr(WCHAR* text, const WCHAR* pattern);

// Copies or appends with the destination's full size in characters. Both always
// leave a terminated text; when it did not all fit, the result is
// STRSAFE_E_INSUFFICIENT_BUFFER and the text is cut.
HRESULT StringCchCopyW(WCHAR* destination, std::size_t destinationSize, const WCHAR* source);
HRESULT StringCchCatW(WCHAR* destination, std::size_t destinationSize, const WCHAR* source);

namespace platform {

// One argument of the formatter. Built implicitly from the argument types that
// the formats accept, so a mismatch is reported instead of being undefined.
class FormatArg {
public:
    enum class Kind { Signed, Unsigned, WideText, NarrowText };

    template <std::signed_integral T>
    FormatArg(T value) : kind_(Kind::Signed), signed_(value) {}
    template <std::unsigned_integral T>
        requires(!std::same_as<T, bool>)
    FormatArg(T value) : kind_(Kind::Unsigned), unsigned_(value) {}
    FormatArg(const WCHAR* text) : kind_(Kind::WideText), wide_(text) {}
    FormatArg(const char* text) : kind_(Kind::NarrowText), narrow_(text) {}

    Kind kind() const { return kind_; }
    long long AsSigned() const;
    unsigned long long AsUnsigned() const;
    const WCHAR* wide() const { return wide_; }
    const char* narrow() const { return narrow_; }

private:
    Kind kind_;
    long long signed_ = 0;
    unsigned long long unsigned_ = 0;
    const WCHAR* wide_ = nullptr;
    const char* narrow_ = nullptr;
};

HRESULT FormatW(WCHAR* destination, std::size_t destinationSize, const WCHAR* format, const FormatArg* args,
                std::size_t argCount);

std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(const WCHAR* text);
std::u16string ToUtf16(std::string_view text);

}  // namespace platform

// printf-style formatting into a buffer of destinationSize characters, with the
// wide printf conventions of the device: %d %i %u %x %X %c %s (WCHAR text),
// %S or %hs (narrow text), %ls, %%, flags "-+ 0#", width and precision, and the
// l, ll, h, I64 size prefixes. Results: S_OK; STRSAFE_E_INSUFFICIENT_BUFFER when
// the text was cut to fit (always terminated); STRSAFE_E_INVALID_PARAMETER for a
// zero-size buffer, a bad format, or an argument that does not suit its format
// (then the buffer holds an empty text).
template <typename... Args>
HRESULT StringCchPrintfW(WCHAR* destination, std::size_t destinationSize, const WCHAR* format, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0) {
        return platform::FormatW(destination, destinationSize, format, nullptr, 0);
    } else {
        const platform::FormatArg list[] = {platform::FormatArg(args)...};
        return platform::FormatW(destination, destinationSize, format, list, sizeof...(Args));
    }
}
