#include "driver_host.h"

#include <optional>
#include <system_error>

namespace quorvel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// A multi-byte sequence as its first byte announces it.
struct Lead {
    std::size_t length;
    char32_t minimum;   // smaller values are overlong encodings
    char32_t bits;
};

std::optional<Lead> ClassifyLead(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) {
        return Lead{2, 0x80, lead & 0x1Fu};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return Lead{3, 0x800, lead & 0x0Fu};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return Lead{4, 0x10000, lead & 0x07u};
    }
    return std::nullopt;
}

// Decodes the sequence at the start of text into codePoint; returns its length.
std::size_t DecodeOne(std::string_view text, char32_t& codePoint)
{
    const auto first = static_cast<unsigned char>(text[0]);
    codePoint = first < 0x80 ? first : kReplacement;
    const std::optional<Lead> lead = ClassifyLead(first);
    if (!lead || text.size() < lead->length) {
        return 1;
    }
    char32_t value = lead->bits;
    for (std::size_t i = 1; i < lead->length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if (!IsContinuation(next)) {
            return 1;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < lead->minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 1;
    }
    codePoint = value;
    return lead->length;
}

void AppendUtf16(std::u16string& out, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    const char32_t offset = codePoint - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

}  // namespace

std::u16string WidenUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t codePoint = 0;
        text.remove_prefix(DecodeOne(text, codePoint));
        AppendUtf16(out, codePoint);
    }
    return out;
}

bool DriverHost::Usable(const DEVICE_HOST* host)
{
    return host != nullptr && DEVICE_HOST_HAS(*host, QueryValue);
}

DriverHost::DriverHost(const DEVICE_HOST& host)
    : deviceIndex_(host.deviceIndex),
      nodeFolder_(host.nodeFolder != nullptr ? host.nodeFolder : ""),
      portGroup_(DEVICE_HOST_HAS(host, portGroup) && host.portGroup != nullptr ? host.portGroup : ""),
      portName_("COM" + std::to_string(host.deviceIndex)),
      setLastError_(host.SetLastError),
      debugOutput_(host.DebugOutput)
{
}

void DriverHost::SetLastError(DWORD error) const
{
    if (setLastError_ != nullptr) {
        setLastError_(error);
    }
}

void DriverHost::DebugLine(std::string_view line) const
{
    if (debugOutput_ == nullptr) {
        return;
    }
    std::string text(line);
    text += '\n';
    debugOutput_(WidenUtf8(text).c_str());
}

void DriverHost::Debug(std::string_view what) const
{
    std::string line = "quorvel " + portName_ + ": ";
    line.append(what);
    DebugLine(line);
}

void DriverHost::Debug(std::string_view what, int error) const
{
    std::string text(what);
    text += ": ";
    text += std::generic_category().message(error);
    Debug(text);
}

}  // namespace quorvel
