// Writes a hive in REGEDIT4 form (see reg_text.h).
#include <algorithm>
#include <cstdio>

#include "platform/registry.h"
#include "platform/strings.h"
#include "registry/names.h"
#include "registry/reg_text.h"

namespace platform::registry {
namespace {

// Hex data wraps after this many bytes a line, as regedit keeps lines short.
constexpr std::size_t kBytesPerLine = 24;

std::string Quoted(std::u16string_view text)
{
    std::string out = "\"";
    for (const char c : ToUtf8(text)) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string Hex(unsigned value, int width)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*x", width, value);
    return digits;
}

std::u16string DecodeUtf16(const std::vector<BYTE>& data)
{
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (unsigned{data[i + 1]} << 8)));
    }
    return text;
}

// The bytes of a REG_SZ that the quoted form gives back exactly: an even
// count, one terminating null at the end and no other, well-formed UTF-16,
// and no control character (a line break would end the entry).
bool IsPlainText(const Value& value)
{
    if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) {
        return false;
    }
    const std::u16string text = DecodeUtf16(value.data);
    const std::u16string_view body = std::u16string_view(text).substr(0, text.size() - 1);
    return text.back() == u'\0' && IsWellFormedUtf16(body) &&
           std::none_of(body.begin(), body.end(), [](char16_t c) { return c < 0x20; });
}

std::string HexBytes(const std::vector<BYTE>& data)
{
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out += (i % kBytesPerLine == 0) ? ",\\\n  " : ",";
        }
        out += Hex(data[i], 2);
    }
    return out;
}

std::string FormatData(const Value& value)
{
    if (IsPlainText(value)) {
        const std::u16string text = DecodeUtf16(value.data);
        return Quoted(std::u16string_view(text).substr(0, text.size() - 1));
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        unsigned number = 0;
        for (std::size_t i = 4; i-- > 0;) {
            number = (number << 8) | value.data[i];
        }
        return "dword:" + Hex(number, 8);
    }
    const std::string prefix = value.type == REG_BINARY ? "hex:" : "hex(" + Hex(value.type, 1) + "):";
    return prefix + HexBytes(value.data);
}

void FormatKey(std::string& out, const Key& key, const std::string& path)
{
    out += "\n[" + path + "]\n";
    for (const Value& value : key.values()) {
        out += (value.name.empty() ? std::string("@") : Quoted(value.name)) + "=" + FormatData(value) + "\n";
    }
}

// Parents first, then each subkey with everything below it; the depth is
// bounded by kMaxKeyDepth.
void FormatTree(std::string& out, const Key& key, const std::string& path)
{
    FormatKey(out, key, path);
    for (const std::shared_ptr<Key>& subkey : key.subkeys()) {
        FormatTree(out, *subkey, path + "\\" + ToUtf8(subkey->name()));
    }
}

}  // namespace

std::string FormatHive(const Key& root, std::u16string_view rootName)
{
    std::string out = "REGEDIT4\n";
    const std::string rootPath = ToUtf8(rootName);
    // The root itself is written only when it holds values: it always exists.
    if (!root.values().empty()) {
        FormatKey(out, root, rootPath);
    }
    for (const std::shared_ptr<Key>& subkey : root.subkeys()) {
        FormatTree(out, *subkey, rootPath + "\\" + ToUtf8(subkey->name()));
    }
    return out;
}

}  // namespace platform::registry
