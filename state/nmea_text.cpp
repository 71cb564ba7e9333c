#include "state/nmea_text.h"

std::optional<unsigned> HexDigitValue(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return static_cast<unsigned>(digit - '0');
    }
    if (digit >= 'A' && digit <= 'F') {
        return static_cast<unsigned>(digit - 'A' + 10);
    }
    if (digit >= 'a' && digit <= 'f') {
        return static_cast<unsigned>(digit - 'a' + 10);
    }
    return std::nullopt;
}

std::string_view WithoutLineEnd(std::span<const unsigned char> line)
{
    std::string_view text(reinterpret_cast<const char*>(line.data()), line.size());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

unsigned XorOf(std::string_view bytes)
{
    unsigned sum = 0;
    for (const char c : bytes) {
        sum ^= static_cast<unsigned char>(c);
    }
    return sum;
}

std::optional<std::string_view> CheckedBody(std::string_view sentence)
{
    if (sentence.size() < 4 || sentence[sentence.size() - 3] != '*') {
        return std::nullopt;
    }
    const auto high = HexDigitValue(sentence[sentence.size() - 2]);
    const auto low = HexDigitValue(sentence[sentence.size() - 1]);
    const std::string_view body = sentence.substr(1, sentence.size() - 4);
    if (!high || !low || XorOf(body) != ((*high << 4) | *low)) {
        return std::nullopt;
    }
    return body;
}
