#include "network/address_allow_list.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace tavrel::network {
namespace {

// The entries of `text`: the runs between spaces, tabs and commas.
std::vector<std::string_view> Entries(std::string_view text)
{
    constexpr std::string_view kSeparators = " \t\r\n,";
    std::vector<std::string_view> entries;
    std::size_t at = text.find_first_not_of(kSeparators);
    while (at != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(kSeparators, at), text.size());
        entries.push_back(text.substr(at, end - at));
        at = text.find_first_not_of(kSeparators, end);
    }
    return entries;
}

std::optional<HostAddress> ParseAddress(const std::string& text)
{
    HostAddress address;
    for (const int family : {AF_INET, AF_INET6}) {
        if (::inet_pton(family, text.c_str(), address.bytes.data()) == 1) {
            address.family = family;
            return address;
        }
    }
    return std::nullopt;
}

// The prefix length after the '/': digits only, at most the address's bits.
std::optional<unsigned> ParseBits(std::string_view text, unsigned most)
{
    unsigned bits = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || bits > most) {
        return std::nullopt;
    }
    return bits;
}

// The entry in quotes, built by appending: GCC 12 warns wrongly (-Wrestrict)
// about "\"" + string at -O3.
std::string Quoted(std::string_view entry)
{
    std::string quoted = "\"";
    quoted.append(entry).append("\"");
    return quoted;
}

std::optional<AddressPrefix> ParseEntry(std::string_view entry, std::string& failure)
{
    const std::size_t slash = entry.find('/');
    const std::optional<HostAddress> address = ParseAddress(std::string(entry.substr(0, slash)));
    if (!address) {
        failure = Quoted(entry) + " is not an IPv4 or IPv6 address";
        return std::nullopt;
    }
    AddressPrefix prefix{*address, address->bitCount()};
    if (slash != std::string_view::npos) {
        const std::optional<unsigned> bits = ParseBits(entry.substr(slash + 1), prefix.bits);
        if (!bits) {
            failure = Quoted(entry) + ": the prefix length after '/' must be a number from 0 to " +
                      std::to_string(prefix.bits);
            return std::nullopt;
        }
        prefix.bits = *bits;
    }
    UnmapIPv4(prefix.address, prefix.bits);
    return prefix;
}

bool Matches(const AddressPrefix& prefix, const HostAddress& peer)
{
    if (prefix.address.family != peer.family) {
        return false;
    }
    const unsigned wholeBytes = prefix.bits / 8;
    if (!std::equal(prefix.address.bytes.begin(), prefix.address.bytes.begin() + wholeBytes, peer.bytes.begin())) {
        return false;
    }
    const unsigned restBits = prefix.bits % 8;
    if (restBits == 0) {
        return true;
    }
    const auto mask = static_cast<std::uint8_t>(0xffU << (8 - restBits));
    return (prefix.address.bytes[wholeBytes] & mask) == (peer.bytes[wholeBytes] & mask);
}

}  // namespace

std::optional<AddressAllowList> AddressAllowList::Parse(std::string_view text, std::string& failure)
{
    AddressAllowList list;
    for (const std::string_view entry : Entries(text)) {
        std::optional<AddressPrefix> prefix = ParseEntry(entry, failure);
        if (!prefix) {
            return std::nullopt;
        }
        list.prefixes_.push_back(*prefix);
    }
    failure.clear();
    return list;
}

bool AddressAllowList::Allows(const sockaddr_storage& peer) const
{
    return Allows(FromSocketAddress(peer));
}

bool AddressAllowList::Allows(const HostAddress& peer) const
{
    return AllowsAnyone() ||
           std::any_of(prefixes_.begin(), prefixes_.end(), [&](const AddressPrefix& prefix) { return Matches(prefix, peer); });
}

}  // namespace tavrel::network
