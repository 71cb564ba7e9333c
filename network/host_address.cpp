#include "network/host_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tavrel::network {
namespace {

constexpr std::array<std::uint8_t, 12> kMappedIPv4Prefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool IsMappedIPv4(const HostAddress& address)
{
    return address.family == AF_INET6 && std::equal(kMappedIPv4Prefix.begin(), kMappedIPv4Prefix.end(), address.bytes.begin());
}

}  // namespace

HostAddress FromSocketAddress(const sockaddr_storage& address)
{
    HostAddress host;
    if (address.ss_family == AF_INET) {
        sockaddr_in ipv4{};
        std::memcpy(&ipv4, &address, sizeof ipv4);
        host.family = AF_INET;
        std::memcpy(host.bytes.data(), &ipv4.sin_addr, sizeof ipv4.sin_addr);
        host.port = ntohs(ipv4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        sockaddr_in6 ipv6{};
        std::memcpy(&ipv6, &address, sizeof ipv6);
        host.family = AF_INET6;
        std::memcpy(host.bytes.data(), &ipv6.sin6_addr, sizeof ipv6.sin6_addr);
        host.port = ntohs(ipv6.sin6_port);
    }
    unsigned bits = host.bitCount();
    UnmapIPv4(host, bits);
    return host;
}

void UnmapIPv4(HostAddress& address, unsigned& bits)
{
    if (!IsMappedIPv4(address) || bits < 96) {
        return;
    }
    std::array<std::uint8_t, 16> ipv4{};
    std::copy_n(address.bytes.begin() + 12, 4, ipv4.begin());
    address.family = AF_INET;
    address.bytes = ipv4;
    bits -= 96;
}

std::string AddressText(const HostAddress& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (::inet_ntop(address.family, address.bytes.data(), text, sizeof text) == nullptr) {
        return "(unknown address)";
    }
    if (address.port == 0) {
        return text;
    }
    const std::string port = std::to_string(address.port);
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about "[" + string at -O3.
    std::string withPort = address.family == AF_INET6 ? "[" : "";
    withPort.append(text).append(address.family == AF_INET6 ? "]:" : ":").append(port);
    return withPort;
}

bool IsLoopback(const HostAddress& address)
{
    const auto& b = address.bytes;
    if (address.family == AF_INET) {
        return b[0] == 127;
    }
    const bool zerosBefore = std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t byte) { return byte == 0; });
    const bool mappedIPv4 = zerosBefore && b[10] == 0xFF && b[11] == 0xFF;
    const bool ipv6Loopback = zerosBefore && b[10] == 0 && b[11] == 0 && b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] == 1;
    return address.family == AF_INET6 && (ipv6Loopback || (mappedIPv4 && b[12] == 127));
}

std::string ThisHostName()
{
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    const std::string full(name.data());
    return full.substr(0, full.find('.'));
}

}  // namespace tavrel::network
