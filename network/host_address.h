// A peer's address as the network code compares and shows it. An IPv4
// client that reaches an IPv6 socket arrives as an IPv4-mapped address
// (::ffff:192.168.1.5); it is taken back to plain IPv4 here, so that lists
// and texts see the address that the person knows.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>

namespace tavrel::network {

struct HostAddress {
    int family = AF_UNSPEC;              // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> bytes{};   // network order; IPv4 uses the first 4
    std::uint16_t port = 0;              // host order; 0 when not known

    // The number of address bits: 32 or 128.
    unsigned bitCount() const { return family == AF_INET ? 32U : 128U; }
};

// The address of `address`, IPv4-mapped IPv6 taken back to IPv4. An address
// of another family gives family AF_UNSPEC.
HostAddress FromSocketAddress(const sockaddr_storage& address);

// Takes an IPv4-mapped IPv6 address (and a prefix of at least 96 bits over
// one, `bits` is then lowered by 96) back to IPv4; other addresses stay.
void UnmapIPv4(HostAddress& address, unsigned& bits);

// "192.168.1.5:40112", "[fe80::1]:40112"; without ":port" when the port is 0.
std::string AddressText(const HostAddress& address);

// Whether the address is this machine's own: 127.0.0.0/8, ::1, or an IPv4
// loopback address mapped into IPv6.
bool IsLoopback(const HostAddress& address);

// This machine's name as the network knows it ("boat1"), without its domain;
// "localhost" when it has none.
std::string ThisHostName();

}  // namespace tavrel::network
