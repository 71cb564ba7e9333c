// Reads a hive from REGEDIT4 text (see reg_text.h). Anything it does not
// understand is an error that names the line, never a guess: the file is
// rewritten from what was read, so a guess would lose what it skipped.
#include <algorithm>
#include <charconv>
#include <optional>

#include "platform/registry.h"
#include "platform/strings.h"
#include "registry/names.h"
#include "registry/reg_text.h"

namespace platform::registry {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text)
{
    constexpr std::string_view kBlank = " \t\r";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

bool ConsumePrefix(std::string_view& text, std::string_view prefix)
{
    if (!text.starts_with(prefix)) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

// The length of a UTF-8 sequence from its first byte; 0 for a byte that
// cannot start one (0x80-0xBF continue a sequence, 0xC0 and 0xC1 start only
// overlong ones, and above 0xF4 lies past U+10FFFF).
std::size_t SequenceLength(unsigned lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC2) {
        return 0;
    }
    if (lead < 0xE0) {
        return 2;
    }
    if (lead < 0xF0) {
        return 3;
    }
    return lead < 0xF5 ? 4 : 0;
}

// Length of the well-formed UTF-8 sequence at text[at] (no overlong forms,
// no surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    const std::size_t length = SequenceLength(lead);
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const unsigned second = length > 1 ? byte(at + 1) : 0x80;
    const bool overlong = (lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90);
    const bool surrogate = lead == 0xED && second >= 0xA0;
    const bool tooLarge = lead == 0xF4 && second >= 0x90;
    return overlong || surrogate || tooLarge ? 0 : length;
}

std::optional<std::size_t> FindInvalidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0) {
            return at;
        }
        at += length;
    }
    return std::nullopt;
}

std::optional<unsigned> ParseHexNumber(std::string_view digits, std::size_t maxDigits)
{
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
    if (digits.empty() || digits.size() > maxDigits || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

void AppendLittleEndian(std::vector<BYTE>& out, unsigned number, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<BYTE>(number >> (8 * i)));
    }
}

// One entry of the file, with continued lines joined, and where it starts.
struct Entry {
    std::string text;
    std::size_t line;
};

class HiveParser {
public:
    explicit HiveParser(std::u16string_view rootName)
        : rootName_(rootName), root_(std::make_shared<Key>(std::u16string(), nullptr))
    {
    }

    ParsedHive Parse(std::string_view text);

private:
    std::vector<Entry> SplitEntries(std::string_view text) const;
    // Each returns why the entry is wrong, or an empty text.
    std::string ParseEntry(std::string_view entry);
    std::string ParseHeader(std::string_view path);
    std::string ParseValue(std::string_view entry);

    std::u16string rootName_;
    std::shared_ptr<Key> root_;
    Key* current_ = nullptr;
    bool sawVersion_ = false;
};

std::vector<Entry> HiveParser::SplitEntries(std::string_view text) const
{
    std::vector<Entry> entries;
    bool continued = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++lineNumber;
        if (!continued && (line.empty() || line.starts_with(';'))) {
            continue;
        }
        if (!continued) {
            entries.push_back({std::string(), lineNumber});
        }
        continued = line.ends_with('\\');
        entries.back().text += continued ? line.substr(0, line.size() - 1) : line;
    }
    return entries;
}

ParsedHive HiveParser::Parse(std::string_view text)
{
    if (const auto invalid = FindInvalidUtf8(text)) {
        const std::string_view before = text.substr(0, *invalid);
        const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
        return {nullptr, line, "the text is not valid UTF-8"};
    }
    ConsumePrefix(text, kUtf8ByteOrderMark);
    for (const Entry& entry : SplitEntries(text)) {
        if (std::string error = ParseEntry(entry.text); !error.empty()) {
            return {nullptr, entry.line, std::move(error)};
        }
    }
    if (!sawVersion_) {
        return {nullptr, 1, "the REGEDIT4 header is missing"};
    }
    return {root_, 0, {}};
}

std::string HiveParser::ParseEntry(std::string_view entry)
{
    if (!sawVersion_) {
        sawVersion_ = entry == "REGEDIT4" || entry == "Windows Registry Editor Version 5.00";
        return sawVersion_ ? std::string() : "the REGEDIT4 header is missing";
    }
    if (entry.starts_with('[') && entry.ends_with(']')) {
        return ParseHeader(entry.substr(1, entry.size() - 2));
    }
    if (entry.starts_with('"') || entry.starts_with('@')) {
        return ParseValue(entry);
    }
    return "expected a [key] or a value";
}

std::string HiveParser::ParseHeader(std::string_view path)
{
    if (path.starts_with('-')) {
        return "deleting keys is not supported in a hive file";
    }
    const std::u16string fullPath = ToUtf16(path);
    const std::u16string_view rest = std::u16string_view(fullPath).substr(std::min(rootName_.size(), fullPath.size()));
    const bool underRoot = NamesEqual(std::u16string_view(fullPath).substr(0, rootName_.size()), rootName_) &&
                           (rest.empty() || rest.starts_with(u'\\'));
    if (!underRoot) {
        return "the key is not under " + ToUtf8(rootName_);
    }
    const auto names = SplitKeyPath(rest);
    if (!names) {
        return "invalid key path";
    }
    Key* key = root_.get();
    for (const std::u16string& name : *names) {
        std::shared_ptr<Key> subkey = key->FindSubkey(name);
        key = (subkey != nullptr ? subkey : key->AddSubkey(name)).get();
    }
    current_ = key;
    return {};
}

// Reads the quoted text at the start of `text` and moves past it.
std::optional<std::string> ReadQuoted(std::string_view& text, std::string& error)
{
    std::string out;
    for (std::size_t at = 1; at < text.size(); ++at) {
        if (text[at] == '"') {
            text.remove_prefix(at + 1);
            return out;
        }
        if (text[at] == '\\') {
            if (++at == text.size() || (text[at] != '\\' && text[at] != '"')) {
                error = "unknown escape in a quoted text (only \\\\ and \\\")";
                return std::nullopt;
            }
        }
        out.push_back(text[at]);
    }
    error = "a quoted text has no closing quote";
    return std::nullopt;
}

std::optional<std::vector<BYTE>> ParseHexBytes(std::string_view list)
{
    std::vector<BYTE> bytes;
    list = Trim(list);
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const auto byte = ParseHexNumber(Trim(list.substr(0, comma)), 2);
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<BYTE>(*byte));
        // A comma must be followed by another byte: "01," lost its end.
        if (comma == std::string_view::npos) {
            break;
        }
        list.remove_prefix(comma + 1);
        if (Trim(list).empty()) {
            return std::nullopt;
        }
    }
    return bytes;
}

std::string ParseData(std::string_view text, Value& value)
{
    std::string error;
    if (text.starts_with('"')) {
        const auto quoted = ReadQuoted(text, error);
        if (!quoted || !Trim(text).empty()) {
            return quoted ? "unexpected text after the closing quote" : error;
        }
        value.type = REG_SZ;
        for (const char16_t c : ToUtf16(*quoted) + u'\0') {
            AppendLittleEndian(value.data, c, 2);
        }
        return {};
    }
    if (ConsumePrefix(text, "dword:")) {
        const auto number = ParseHexNumber(Trim(text), 8);
        value.type = REG_DWORD;
        AppendLittleEndian(value.data, number.value_or(0), 4);
        return number ? std::string() : "a dword needs 1 to 8 hex digits";
    }
    if (ConsumePrefix(text, "hex(")) {
        const std::size_t close = text.find("):");
        const auto type = ParseHexNumber(text.substr(0, close), 8);
        if (close == std::string_view::npos || !type) {
            return "hex(type): needs a type of 1 to 8 hex digits";
        }
        value.type = *type;
        text.remove_prefix(close + 2);
    } else if (ConsumePrefix(text, "hex:")) {
        value.type = REG_BINARY;
    } else {
        return "unknown value data (expected \"text\", dword:, hex: or hex(type):)";
    }
    auto bytes = ParseHexBytes(text);
    value.data = bytes.value_or(std::vector<BYTE>());
    return bytes ? std::string() : "hex data must be bytes of 1 or 2 hex digits separated by commas";
}

std::string HiveParser::ParseValue(std::string_view entry)
{
    if (current_ == nullptr) {
        return "a value before the first [key]";
    }
    Value value;
    if (!ConsumePrefix(entry, "@")) {
        std::string error;
        const auto name = ReadQuoted(entry, error);
        if (!name) {
            return error;
        }
        // "" names the default value as @ does.
        value.name = ToUtf16(*name);
        if (!IsValidValueName(value.name)) {
            return "invalid value name";
        }
    }
    entry = Trim(entry);
    if (!ConsumePrefix(entry, "=")) {
        return "expected '=' after the value name";
    }
    entry = Trim(entry);
    if (entry == "-") {
        return "deleting values is not supported in a hive file";
    }
    if (std::string error = ParseData(entry, value); !error.empty()) {
        return error;
    }
    current_->SetValue(std::move(value));
    return {};
}

}  // namespace

ParsedHive ParseHive(std::string_view text, std::u16string_view rootName)
{
    return HiveParser(rootName).Parse(text);
}

}  // namespace platform::registry
