// The C runtime's wide-string calls over WCHAR, and the safe copy and append.
#include <algorithm>

#include "platform/strings.h"

std::size_t wcslen(const WCHAR* text)
{
    return std::char_traits<char16_t>::length(text);
}

int wcscmp(const WCHAR* left, const WCHAR* right)
{
    while (*left != u'\0' && *left == *right) {
        ++left;
        ++right;
    }
    return static_cast<int>(*left) - static_cast<int>(*right);
}

const WCHAR* wcsstr(const WCHAR* text, const WCHAR* pattern)
{
    const std::u16string_view haystack(text);
    const std::size_t at = haystack.find(pattern);
    return at == std::u16string_view::npos ? nullptr : text + at;
}

WCHAR* wcsstr(WCHAR* text, const WCHAR* pattern)
{
    const WCHAR* found = wcsstr(static_cast<const WCHAR*>(text), pattern);
    return found == nullptr ? nullptr : text + (found - text);
}

namespace {

// Appends source at offset `used` of the destination, cutting it to fit.
HRESULT CopyAt(WCHAR* destination, std::size_t destinationSize, std::size_t used, const WCHAR* source)
{
    const std::size_t room = destinationSize - used - 1;
    const std::size_t length = wcslen(source);
    const std::size_t copied = std::min(length, room);
    std::copy_n(source, copied, destination + used);
    destination[used + copied] = u'\0';
    return copied == length ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

}  // namespace

HRESULT StringCchCopyW(WCHAR* destination, std::size_t destinationSize, const WCHAR* source)
{
    if (destination == nullptr || destinationSize == 0 || source == nullptr) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    return CopyAt(destination, destinationSize, 0, source);
}

HRESULT StringCchCatW(WCHAR* destination, std::size_t destinationSize, const WCHAR* source)
{
    if (destination == nullptr || destinationSize == 0 || source == nullptr) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    const std::size_t used = std::u16string_view(destination, destinationSize).find(u'\0');
    if (used == std::u16string_view::npos) {
        return STRSAFE_E_INVALID_PARAMETER;   // the destination was not terminated
    }
    return CopyAt(destination, destinationSize, used, source);
}
