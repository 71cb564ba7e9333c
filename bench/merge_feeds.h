// Where the merge section writes each source's sentences, as its instrument
// would hand them over: a pseudo-terminal that the relay opens as a serial
// port, datagrams to a UDP port on 127.0.0.1, or a TCP server on 127.0.0.1
// that the relay connects to as a client.
#pragma once

#include <cstdint>
#include <span>

#include "bench/clock.h"
#include "bench/input_line.h"
#include "platform/host/unique_fd.h"

namespace tavrel::bench {

class Feed {
public:
    virtual ~Feed() = default;
    // Whether the relay can be reached yet (a TCP feed: it has connected). Never waits.
    virtual bool Connected() { return true; }
    // Writes one sentence whole, waiting for room until `deadline`; how many bytes were written.
    virtual std::size_t Write(std::span<const unsigned char> sentence, Clock::time_point deadline) = 0;
};

class PtyFeed : public Feed {
public:
    explicit PtyFeed(const InputLine& line) : line_(line) {}
    std::size_t Write(std::span<const unsigned char> sentence, Clock::time_point deadline) override;

private:
    const InputLine& line_;
};

// One datagram a sentence.
class UdpFeed : public Feed {
public:
    explicit UdpFeed(std::uint16_t port);
    std::size_t Write(std::span<const unsigned char> sentence, Clock::time_point) override;

private:
    std::uint16_t port_;
    platform::host::UniqueFd socket_;
};

// Listens on 127.0.0.1 from its making; the first client is the relay.
class TcpFeed : public Feed {
public:
    TcpFeed();
    std::uint16_t port() const { return port_; }
    bool Connected() override;
    std::size_t Write(std::span<const unsigned char> sentence, Clock::time_point deadline) override;

private:
    platform::host::UniqueFd listener_;
    platform::host::UniqueFd client_;
    std::uint16_t port_ = 0;
};

// A UDP port that nobody had bound a moment ago.
std::uint16_t FreeUdpPort();

}  // namespace tavrel::bench
