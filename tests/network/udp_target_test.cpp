#include <gtest/gtest.h>

#include "network/udp_target.h"

namespace {

using tavrel::network::ParseUdpTarget;
using tavrel::network::UdpTarget;

struct Written {
    const char* text;
    const char* host;
    std::uint16_t port;
    bool numeric;
};

TEST(UdpTarget, ReadsAnAddressOrAHostNameAndAPort)
{
    const Written targets[] = {
        {"192.168.1.255:10110", "192.168.1.255", 10110, true},
        {"  10.0.0.7:1\t", "10.0.0.7", 1, true},
        {"[::1]:65535", "::1", 65535, true},
        {"[fe80::1%wlan0]:10110", "fe80::1%wlan0", 10110, true},
        {"chartplotter.local:10110", "chartplotter.local", 10110, false},
        {"boat-pc:2000", "boat-pc", 2000, false},
        {"nav.example.org.:10110", "nav.example.org.", 10110, false},
    };
    for (const Written& written : targets) {
        std::string failure = "stale";
        const auto target = ParseUdpTarget(written.text, failure);
        ASSERT_TRUE(target) << written.text << ": " << failure;
        EXPECT_EQ(target->host, written.host) << written.text;
        EXPECT_EQ(target->port, written.port) << written.text;
        EXPECT_EQ(target->numeric, written.numeric) << written.text;
        EXPECT_EQ(failure, "");
    }
}

struct Refused {
    const char* text;
    const char* reason;
};

TEST(UdpTarget, RefusesATextThatIsNoTargetSayingWhatIsWrong)
{
    const Refused texts[] = {
        {"", "no host and no port"},
        {"   ", "no host and no port"},
        {"10.0.0.7", "no port"},
        {"10.0.0.7:", "the port \"\" is not a number from 1 to 65535"},
        {"10.0.0.7:0", "the port \"0\" is not a number from 1 to 65535"},
        {"10.0.0.7:65536", "the port \"65536\" is not a number from 1 to 65535"},
        {"10.0.0.7:+80", "the port \"+80\" is not a number from 1 to 65535"},
        {"10.0.0.7:80x", "the port \"80x\" is not a number from 1 to 65535"},
        {":10110", "no host before the port"},
        {"300.1.2.3:10110", "\"300.1.2.3\" is not an IPv4 address"},
        {"10.0.7:10110", "\"10.0.7\" is not an IPv4 address"},
        {"fe80::1:10110", "an IPv6 address is written in brackets, as [address]:port"},
        {"[fe80::1:10110", "the '[' that starts an IPv6 address has no ']'"},
        {"[fe80::1]10110", "no port after the address"},
        {"[fe80::1]", "no port after the address"},
        {"[10.0.0.7]:10110", "\"10.0.0.7\" is not an IPv6 address"},
        {"[fe80::1%]:10110", "\"fe80::1%\" is not an IPv6 address"},
        {"boat pc:10110", "\"boat pc\" is not a host name"},
        {"-boat:10110", "\"-boat\" is not a host name"},
        {"nav..example:10110", "\"nav..example\" is not a host name"},
    };
    for (const Refused& refused : texts) {
        std::string failure;
        EXPECT_FALSE(ParseUdpTarget(refused.text, failure)) << refused.text;
        EXPECT_EQ(failure, "UDP target \"" + std::string(refused.text) + "\": " + refused.reason +
                               " (write host:port, e.g. 192.168.1.255:10110 or [fe80::1]:10110)");
    }
}

TEST(UdpTarget, ALabelOrANameTooLongIsNoHostName)
{
    std::string failure;
    EXPECT_TRUE(ParseUdpTarget(std::string(63, 'a') + ".example:1", failure)) << failure;
    EXPECT_FALSE(ParseUdpTarget(std::string(64, 'a') + ".example:1", failure));
    std::string longest;
    while (longest.size() < 253) {
        longest += longest.empty() ? "a" : ".a";
    }
    EXPECT_TRUE(ParseUdpTarget(longest + ":1", failure)) << failure;
    EXPECT_FALSE(ParseUdpTarget(longest + "b:1", failure));
}

TEST(UdpTarget, ItsTextParsesAgainToTheSameTarget)
{
    for (const char* text : {"192.168.1.255:10110", "[fe80::1%wlan0]:10110", "chartplotter.local:1"}) {
        std::string failure;
        const auto target = ParseUdpTarget(text, failure);
        ASSERT_TRUE(target) << failure;
        EXPECT_EQ(tavrel::network::UdpTargetText(*target), text);
    }
}

}  // namespace
