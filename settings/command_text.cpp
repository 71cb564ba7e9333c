#include "settings/command_text.h"

#include "state/nmea_text.h"

namespace {

// The byte of the escape at typed[at] (just after its backslash), and how
// many characters it took; nothing when it is not an escape.
std::optional<std::pair<char, std::size_t>> Escape(std::string_view typed, std::size_t at)
{
    switch (at < typed.size() ? typed[at] : '\0') {
    case 'r': return std::pair{'\r', std::size_t{1}};
    case 'n': return std::pair{'\n', std::size_t{1}};
    case 't': return std::pair{'\t', std::size_t{1}};
    case '\\': return std::pair{'\\', std::size_t{1}};
    case 'x':
        if (at + 2 < typed.size()) {
            const auto high = HexDigitValue(typed[at + 1]);
            const auto low = HexDigitValue(typed[at + 2]);
            if (high && low) {
                return std::pair{static_cast<char>(*high * 16 + *low), std::size_t{3}};
            }
        }
        return std::nullopt;
    default: return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> DecodeCommandText(std::string_view typed, std::string& reason)
{
    std::string bytes;
    for (std::size_t at = 0; at < typed.size(); ++at) {
        if (typed[at] != '\\') {
            bytes += typed[at];
            continue;
        }
        const auto escape = Escape(typed, at + 1);
        if (!escape) {
            // Built by appending: GCC 12 at -O3 warns falsely of "literal" + std::string.
            reason = std::string(1, '\'').append(typed.substr(at, 4)).append("' is not an escape (\\r, \\n, \\t, \\\\, \\xHH)");
            return std::nullopt;
        }
        bytes += escape->first;
        at += escape->second;
    }
    if (bytes.size() > kLongestCommand) {
        reason = "a command of more than " + std::to_string(kLongestCommand) + " bytes";
        return std::nullopt;
    }
    return bytes;
}

std::string EncodeCommandText(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\r' || c == '\n' || c == '\t') {
            text.append(1, '\\').append(1, c == '\r' ? 'r' : c == '\n' ? 'n' : 't');
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            text.append("\\x").append(1, kDigits[byte >> 4]).append(1, kDigits[byte & 15]);
        }
    }
    return text;
}
