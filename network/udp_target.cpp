#include "network/udp_target.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tavrel::network {
namespace {

// `"host" <what>`, built by appending (GCC 12 at -O3 wrongly warns about "x" + string).
std::string QuotedHost(std::string_view host, std::string_view what)
{
    std::string text = "\"";
    text += host;
    text += "\" ";
    text += what;
    return text;
}

constexpr std::size_t kHostNameMost = 253;
constexpr std::size_t kLabelMost = 63;
constexpr std::string_view kSpaces = " \t\r\n";
constexpr std::string_view kExample = " (write host:port, e.g. 192.168.1.255:10110 or [fe80::1]:10110)";

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(kSpaces);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpaces) - first + 1);
}

// The port of "…:port"; false with `problem` set when it is not 1 to 65535.
bool ParsePort(std::string_view text, std::uint16_t& port, std::string& problem)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        problem = "the port \"" + std::string(text) + "\" is not a number from 1 to 65535";
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// An IPv6 address, with an optional zone after '%' ("fe80::1%wlan0").
bool IsIPv6Address(std::string_view host)
{
    const auto percent = host.find('%');
    if (percent != std::string_view::npos && percent + 1 == host.size()) {
        return false;   // a zone mark without a zone
    }
    const std::string address(host.substr(0, percent));
    in6_addr parsed{};
    return ::inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

bool LooksLikeIPv4(std::string_view host)
{
    return std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
}

bool IsIPv4Address(std::string_view host)
{
    const std::string address(host);
    in_addr parsed{};
    return ::inet_pton(AF_INET, address.c_str(), &parsed) == 1;
}

bool IsHostNameLabel(std::string_view label)
{
    const auto allowed = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; };
    return !label.empty() && label.size() <= kLabelMost && std::all_of(label.begin(), label.end(), allowed) &&
           label.front() != '-' && label.back() != '-';
}

bool IsHostName(std::string_view host)
{
    if (host.empty() || host.size() > kHostNameMost) {
        return false;
    }
    if (host.back() == '.') {
        host.remove_suffix(1);   // a fully qualified name may end in its root's dot
    }
    for (std::size_t start = 0;;) {
        const auto dot = host.find('.', start);
        if (!IsHostNameLabel(host.substr(start, dot - start))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        start = dot + 1;
    }
}

// "[address]:port"; false with `problem` set.
bool ParseBracketed(std::string_view text, UdpTarget& target, std::string& problem)
{
    const auto close = text.find(']');
    if (close == std::string_view::npos) {
        problem = "the '[' that starts an IPv6 address has no ']'";
        return false;
    }
    const std::string_view host = text.substr(1, close - 1);
    if (!IsIPv6Address(host)) {
        problem = QuotedHost(host, "is not an IPv6 address");
        return false;
    }
    if (close + 1 == text.size() || text[close + 1] != ':') {
        problem = "no port after the address";
        return false;
    }
    target.host = host;
    target.numeric = true;
    return ParsePort(text.substr(close + 2), target.port, problem);
}

// "host:port" with an IPv4 address or a host name; false with `problem` set.
bool ParsePlain(std::string_view text, UdpTarget& target, std::string& problem)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        problem = "no port";
        return false;
    }
    const std::string_view host = text.substr(0, colon);
    if (host.find(':') != std::string_view::npos) {
        problem = "an IPv6 address is written in brackets, as [address]:port";
        return false;
    }
    if (host.empty()) {
        problem = "no host before the port";
        return false;
    }
    if (LooksLikeIPv4(host)) {
        if (!IsIPv4Address(host)) {
            problem = QuotedHost(host, "is not an IPv4 address");
            return false;
        }
        target.numeric = true;
    } else if (!IsHostName(host)) {
        problem = QuotedHost(host, "is not a host name");
        return false;
    }
    target.host = host;
    return ParsePort(text.substr(colon + 1), target.port, problem);
}

}  // namespace

std::optional<UdpTarget> ParseUdpTarget(std::string_view text, std::string& failure)
{
    const std::string_view written = Trimmed(text);
    UdpTarget target;
    std::string problem;
    bool parsed = false;
    if (written.empty()) {
        problem = "no host and no port";
    } else if (written.front() == '[') {
        parsed = ParseBracketed(written, target, problem);
    } else {
        parsed = ParsePlain(written, target, problem);
    }
    if (!parsed) {
        failure = "UDP target \"" + std::string(text) + "\": " + problem + std::string(kExample);
        return std::nullopt;
    }
    failure.clear();
    return target;
}

std::string UdpTargetText(const UdpTarget& target)
{
    const bool ipv6 = target.host.find(':') != std::string::npos;
    std::string text = ipv6 ? "[" : "";
    text.append(target.host).append(ipv6 ? "]:" : ":").append(std::to_string(target.port));
    return text;
}

std::vector<std::string_view> TargetList(std::string_view text)
{
    std::vector<std::string_view> targets;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of(", \t", start), text.size());
        if (end > start) {
            targets.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return targets;
}

}  // namespace tavrel::network
