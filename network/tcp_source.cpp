#include "network/tcp_source.h"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <mutex>

#include "network/tcp_connector.h"
#include "platform/host/interrupted_calls.h"

namespace tavrel::network {
namespace {

using platform::host::RetryOnInterrupt;

constexpr std::size_t kChunkBytes = 4096;

}  // namespace

struct TcpSource::State {
    TcpSourceOptions options;
    Callbacks callbacks;
    std::array<unsigned char, kChunkBytes> chunk{};

    mutable std::mutex lock;
    TcpSourceHealth health;
    // The connected socket while Read() runs, -1 otherwise; Send() writes to
    // it under `sending`, so it is never closed under a send.
    std::mutex sending;
    int connected = -1;

    // Offers the socket to Send() while Read() runs; the socket closes after
    // Read() returns, so Send() lets go of it first.
    struct Connection {
        State& state;
        Connection(State& owner, int socket) : state(owner)
        {
            const std::lock_guard guard(state.sending);
            state.connected = socket;
        }
        ~Connection()
        {
            const std::lock_guard guard(state.sending);
            state.connected = -1;
        }
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
    };

    InputThread worker;   // last: its thread uses everything above

    void Run();
    Attempt ConnectAndRead();
    Attempt Read(int socket, const std::string& address);
    void Change(TcpSourceState state, std::string address = {}, std::string reason = {});
};

void TcpSource::State::Run()
{
    KeepConnecting(worker.stop(), options.firstWait, options.longestWait, [this] { return ConnectAndRead(); },
                   [this](const std::string& reason) { Change(TcpSourceState::Waiting, {}, reason); });
}

// Connects to the first of the host's addresses that answers, and reads it.
Attempt TcpSource::State::ConnectAndRead()
{
    Change(TcpSourceState::Connecting);
    Attempt attempt;
    const PeerSocket peer =
        ConnectTo(TcpPeer{options.host, options.port, options.connectWait, options.timeouts}, worker.stop(), attempt);
    return peer.socket.valid() ? Read(peer.socket.get(), peer.address) : attempt;
}

// Reads until the connection ends or the source stops.
Attempt TcpSource::State::Read(int socket, const std::string& address)
{
    Change(TcpSourceState::Connected, address);
    const Connection connection(*this, socket);
    Attempt attempt;
    // A connection just made has room for far more than a command.
    const std::string& greeting = options.greeting;
    if (!greeting.empty() && ::send(socket, greeting.data(), greeting.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
                                 static_cast<ssize_t>(greeting.size())) {
        attempt.reason = "the start-up command could not be sent";
        return attempt;
    }
    for (;;) {
        if (SleepUntil(worker.stop(), socket, POLLIN, kNoTimeout) == Woken::Stopping) {
            return Stopping();
        }
        const ssize_t got = RetryOnInterrupt([&] { return ::recv(socket, chunk.data(), chunk.size(), MSG_DONTWAIT); });
        if (got > 0) {
            attempt.delivered = true;
            {
                const std::lock_guard guard(lock);
                health.bytesRead += static_cast<std::uint64_t>(got);
            }
            callbacks.bytes(std::span<const unsigned char>(chunk.data(), static_cast<std::size_t>(got)));
        } else if (got == 0) {
            attempt.reason = "closed by the peer";
            return attempt;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            attempt.reason = ErrorText(errno);
            return attempt;
        }
    }
}

// Records the new state and tells the owner, outside the lock, so that its
// callback may ask for Health().
void TcpSource::State::Change(TcpSourceState state, std::string address, std::string reason)
{
    TcpSourceHealth now;
    {
        const std::lock_guard guard(lock);
        health.state = state;
        health.address = std::move(address);
        health.reason = std::move(reason);
        if (state == TcpSourceState::Connected) {
            ++health.connectionsMade;
        }
        now = health;
    }
    if (callbacks.changed) {
        callbacks.changed(now);
    }
}

std::unique_ptr<TcpSource> TcpSource::Start(const TcpSourceOptions& options, Callbacks callbacks, std::string& failure)
{
    auto state = std::make_unique<State>();
    state->options = options;
    state->callbacks = std::move(callbacks);
    State* running = state.get();
    if (!state->worker.Start("tcp-source", [running] { running->Run(); }, failure)) {
        return nullptr;
    }
    failure.clear();
    return std::unique_ptr<TcpSource>(new TcpSource(std::move(state)));
}

TcpSource::TcpSource(std::unique_ptr<State> state) : state_(std::move(state)) {}

TcpSource::~TcpSource() = default;

bool TcpSource::Send(std::span<const unsigned char> bytes)
{
    const std::lock_guard guard(state_->sending);
    if (state_->connected < 0) {
        return false;
    }
    const ssize_t sent = RetryOnInterrupt(
        [&] { return ::send(state_->connected, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
    return sent == static_cast<ssize_t>(bytes.size());
}

bool TcpSource::Connected() const
{
    const std::lock_guard guard(state_->sending);
    return state_->connected >= 0;
}

TcpSourceHealth TcpSource::Health() const
{
    const std::lock_guard guard(state_->lock);
    return state_->health;
}

}  // namespace tavrel::network
