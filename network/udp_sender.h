// Sends the relayed stream as UDP datagrams: each chunk the relay reads goes
// out as one datagram to one address and port (a broadcast address too); a
// chunk larger than one Ethernet frame carries goes out as several, so that
// no datagram is split into IP fragments, which one lost frame would all lose. It
// never waits: a datagram the host cannot take at once is lost and counted.
// A network that goes away (a cable pulled, Wi-Fi gone, an interface taken
// down) does not end it: sending fails meanwhile, the socket is made afresh
// (at once, then at most once a second while the network stays away) and
// sending goes on as soon as the network is back.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "network/udp_target.h"
#include "platform/host/unique_fd.h"

namespace tavrel::network {

// How datagrams to a multicast group go out: how many routers they may
// cross (1: this network only), and by which interface (empty: the one the
// host's routes choose). Unicast and broadcast datagrams ignore both.
struct MulticastOptions {
    int hops = 1;
    std::string interface;
};

struct UdpSenderCounters {
    std::uint64_t datagramsSent = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t sendFailures = 0;   // datagrams not sent, for whatever reason
    std::uint64_t socketsRemade = 0;  // times the network was found gone
};

class UdpSender {
public:
    using Clock = std::chrono::steady_clock;
    // How often the socket is made afresh at most while the network stays away.
    static constexpr std::chrono::seconds kRemakeInterval{1};

    // A sender to `target`, whose host is looked up once here (an address
    // needs no lookup), or nothing with `failure` naming the target and why.
    // `multicast` holds for a group's datagrams; an interface that does not
    // exist is a failure too.
    static std::unique_ptr<UdpSender> Start(const UdpTarget& target, std::string& failure,
                                            const MulticastOptions& multicast = {});
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // The most one datagram carries: what fits one 1500-byte frame over IPv6
    // (and so over IPv4).
    static constexpr std::size_t kLargestDatagram = 1452;

    // Sends `chunk` as one datagram, or several of kLargestDatagram bytes and
    // the rest, without waiting. One thread sends; it allocates nothing.
    void Send(std::span<const unsigned char> chunk);

    // Safe from any thread.
    UdpSenderCounters Counters() const;
    // Where the datagrams go, as looked up: "192.168.1.255:10110".
    const std::string& address() const { return addressText_; }

private:
    UdpSender(const sockaddr_storage& address, socklen_t length, platform::host::UniqueFd socket, int hops,
              unsigned interfaceIndex);
    void SendOne(std::span<const unsigned char> datagram);
    // 0, or the errno of the failed send.
    int SendDatagram(std::span<const unsigned char> chunk) const;
    // Makes the socket afresh unless that was done less than kRemakeInterval
    // ago with no datagram sent since; true when it did.
    bool RemakeWhenDue();

    const sockaddr_storage address_;
    const socklen_t addressLength_;
    const std::string addressText_;
    const int hops_;
    const unsigned interfaceIndex_;   // 0: the host's choice
    platform::host::UniqueFd socket_;
    Clock::time_point nextRemake_{};

    std::atomic<std::uint64_t> datagramsSent_{0};
    std::atomic<std::uint64_t> bytesSent_{0};
    std::atomic<std::uint64_t> sendFailures_{0};
    std::atomic<std::uint64_t> socketsRemade_{0};
};

}  // namespace tavrel::network
