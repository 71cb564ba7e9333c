// Reads the stream that arrives as UDP datagrams on a port: an instrument
// gateway or another relay that broadcasts or sends to a multicast group.
// It listens on every address (one IPv6 socket taking IPv4 too where the host
// has IPv6), optionally joined to one multicast group, and hands each
// datagram whole to its owner, on a thread of its own ("udp-listener") that
// sleeps in poll() on its socket and on a wake signal, so that it stops at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "network/input_thread.h"

namespace tavrel::network {

struct UdpListenerOptions {
    std::uint16_t port = 10110;   // 0: a port that the kernel chooses
    // A multicast group to join ("239.192.0.1", "ff02::1%wlan0"); empty: none.
    // The group is joined on the interface that the host routes it through
    // (the one of an IPv6 zone); several programs may then share the port.
    std::string group;
};

struct UdpListenerCounters {
    std::uint64_t datagrams = 0;
    std::uint64_t bytes = 0;
};

class UdpListener {
public:
    // A listener as `options` say that calls `callback` on its own thread
    // with each datagram; nothing, with `failure` naming the port and the
    // reason, when the port cannot be had or the group cannot be joined.
    static std::unique_ptr<UdpListener> Start(const UdpListenerOptions& options, BytesCallback callback,
                                              std::string& failure);
    // Returns once the listener's thread has ended: at once, unless the
    // callback is running, which it waits for.
    ~UdpListener();
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    // The port listened on.
    std::uint16_t port() const;
    // Safe from any thread.
    UdpListenerCounters Counters() const;

private:
    struct State;
    explicit UdpListener(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace tavrel::network
