#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include <gtest/gtest.h>

#include "network/address_allow_list.h"

namespace {

using tavrel::network::AddressAllowList;

// A peer's socket address from its text, as accept() would give it.
sockaddr_storage Peer(const char* text)
{
    sockaddr_storage peer{};
    sockaddr_in ipv4{};
    sockaddr_in6 ipv6{};
    if (::inet_pton(AF_INET, text, &ipv4.sin_addr) == 1) {
        ipv4.sin_family = AF_INET;
        std::memcpy(&peer, &ipv4, sizeof ipv4);
    } else if (::inet_pton(AF_INET6, text, &ipv6.sin6_addr) == 1) {
        ipv6.sin6_family = AF_INET6;
        std::memcpy(&peer, &ipv6, sizeof ipv6);
    } else {
        ADD_FAILURE() << "not an address: " << text;
    }
    return peer;
}

AddressAllowList Parsed(const char* text)
{
    std::string failure;
    const auto list = AddressAllowList::Parse(text, failure);
    EXPECT_TRUE(list) << text << ": " << failure;
    return list.value_or(AddressAllowList());
}

TEST(AddressAllowList, ReadsAddressesAndPrefixesSeparatedBySpacesOrCommas)
{
    EXPECT_TRUE(Parsed("").AllowsAnyone());
    EXPECT_TRUE(Parsed(" , \t").AllowsAnyone());
    const AddressAllowList list = Parsed("192.168.1.0/24, fe80::/10 10.0.0.7,,2001:db8::1");
    ASSERT_EQ(list.prefixes().size(), 4U);
    EXPECT_EQ(list.prefixes()[0].bits, 24U);
    EXPECT_EQ(list.prefixes()[1].bits, 10U);
    EXPECT_EQ(list.prefixes()[2].bits, 32U);
    EXPECT_EQ(list.prefixes()[3].bits, 128U);
}

TEST(AddressAllowList, RefusesAnEntryThatDoesNotParseNamingIt)
{
    struct Case {
        const char* text;
        const char* entry;
        const char* reason;
    };
    for (const Case& bad : {Case{"10.0.0.1 192.168.1.300", "\"192.168.1.300\"", "not an IPv4 or IPv6 address"},
                            Case{"gps.example", "\"gps.example\"", "not an IPv4 or IPv6 address"},
                            Case{"10.0.0.0/33", "\"10.0.0.0/33\"", "from 0 to 32"},
                            Case{"fe80::/129", "\"fe80::/129\"", "from 0 to 128"},
                            Case{"10.0.0.0/", "\"10.0.0.0/\"", "from 0 to 32"},
                            Case{"10.0.0.0/8x", "\"10.0.0.0/8x\"", "from 0 to 32"},
                            Case{"10.0.0.0/-1", "\"10.0.0.0/-1\"", "from 0 to 32"}}) {
        std::string failure;
        EXPECT_FALSE(AddressAllowList::Parse(bad.text, failure)) << bad.text;
        EXPECT_NE(failure.find(bad.entry), std::string::npos) << failure;
        EXPECT_NE(failure.find(bad.reason), std::string::npos) << failure;
    }
}

TEST(AddressAllowList, LetsInOnlyPeersThatMatchAnEntry)
{
    const AddressAllowList list = Parsed("192.168.1.0/24 172.16.16.0/20 fe80::/10 10.0.0.7");
    EXPECT_TRUE(list.Allows(Peer("192.168.1.77")));
    EXPECT_FALSE(list.Allows(Peer("192.168.2.77")));
    // A prefix that ends inside a byte compares only its own bits of it.
    EXPECT_TRUE(list.Allows(Peer("172.16.31.255")));
    EXPECT_FALSE(list.Allows(Peer("172.16.32.0")));
    EXPECT_TRUE(list.Allows(Peer("10.0.0.7")));
    EXPECT_FALSE(list.Allows(Peer("10.0.0.8")));
    EXPECT_TRUE(list.Allows(Peer("fe80::1")));
    EXPECT_TRUE(list.Allows(Peer("febf::1")));
    EXPECT_FALSE(list.Allows(Peer("fec0::1")));
    EXPECT_TRUE(Parsed("").Allows(Peer("203.0.113.9")));
    // Every IPv4 address, but no IPv6 one.
    EXPECT_TRUE(Parsed("0.0.0.0/0").Allows(Peer("203.0.113.9")));
    EXPECT_FALSE(Parsed("0.0.0.0/0").Allows(Peer("2001:db8::1")));
}

TEST(AddressAllowList, TakesIPv4PeersOnAnIPv6SocketForTheIPv4AddressesTheyAre)
{
    // An IPv4 client of a socket that listens on every address arrives mapped.
    EXPECT_TRUE(Parsed("127.0.0.1").Allows(Peer("::ffff:127.0.0.1")));
    EXPECT_FALSE(Parsed("127.0.0.1").Allows(Peer("::1")));
    EXPECT_TRUE(Parsed("192.168.0.0/16").Allows(Peer("::ffff:192.168.4.4")));
    // A mapped entry is the IPv4 address or prefix that it maps.
    EXPECT_TRUE(Parsed("::ffff:10.0.0.0/104").Allows(Peer("10.1.2.3")));
    EXPECT_FALSE(Parsed("::ffff:10.0.0.0/104").Allows(Peer("11.1.2.3")));
}

}  // namespace
