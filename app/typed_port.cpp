#include "app/typed_port.h"

#include <string_view>

namespace {

constexpr std::u16string_view kPrefix = u"COM";

WCHAR UpperCase(WCHAR c)
{
    return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}

// The blanks that the scan passes over before a number.
bool IsBlank(WCHAR c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

bool IsDigit(WCHAR c)
{
    return c >= u'0' && c <= u'9';
}

}  // namespace

bool ParseTypedPort(const WCHAR* text, long long& number)
{
    WCHAR typed[kTypedPortLength + 1] = {};
    for (int i = 0; i < kTypedPortLength && text[i] != u'\0'; ++i) {
        typed[i] = i < static_cast<int>(kPrefix.size()) ? UpperCase(text[i]) : text[i];
    }
    if (std::u16string_view(typed).substr(0, kPrefix.size()) != kPrefix) {
        return false;
    }
    const WCHAR* at = typed + kPrefix.size();
    while (IsBlank(*at)) {
        ++at;
    }
    const bool negative = *at == u'-';
    if (*at == u'-' || *at == u'+') {
        ++at;
    }
    if (!IsDigit(*at)) {
        return false;
    }
    number = 0;
    for (; IsDigit(*at); ++at) {
        number = number * 10 + (*at - u'0');   // at most six digits: no overflow
    }
    number = negative ? -number : number;
    return true;
}
