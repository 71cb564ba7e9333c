#include "network/tcp_client_output.h"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

#include "network/input_thread.h"
#include "network/tcp_connector.h"
#include "platform/host/interrupted_calls.h"
#include "platform/host/wake_signal.h"

namespace tavrel::network {
namespace {

using platform::host::RetryOnInterrupt;

// What one wake-up reads of what the server sends at most, so that a server
// that sends without pause does not keep the output from writing.
constexpr int kReadsPerWake = 8;
constexpr std::size_t kReadBytes = 4096;

// After a call on the socket that failed: true when it only would have
// waited; else false, with `attempt` saying why the connection is lost.
bool OnlyWouldWait(Attempt& attempt)
{
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) {
        return true;
    }
    attempt.reason = ErrorText(error);
    return false;
}

}  // namespace

// Everything the output's thread, Deliver() and Health() share. The queue
// exists only while a connection stands; it is made and dropped on the
// output's thread, and touched by anyone only under `lock`.
struct TcpClientOutput::State {
    TcpClientOutputOptions options;
    platform::host::WakeSignal delivered;   // a chunk waits in the queue
    // Spares Deliver() a copy of each chunk while no connection stands.
    std::atomic<bool> connected{false};

    mutable std::mutex lock;
    std::optional<ClientQueue> queue;
    TcpClientOutputHealth health;   // the counters of the connections that ended

    std::array<unsigned char, kReadBytes> discarded{};   // the output's thread only

    InputThread worker;   // last: its thread uses everything above

    bool Begin(std::string& failure);
    void Run();
    Attempt ConnectAndSend();
    Attempt Serve(int socket);
    bool DiscardIncoming(int socket, Attempt& attempt);
    bool Flush(int socket, Attempt& attempt);
    bool SomethingWaits() const;
    void Opened(const std::string& address);
    void Closed();
};

void TcpClientOutput::State::Run()
{
    KeepConnecting(worker.stop(), options.firstWait, options.longestWait, [this] { return ConnectAndSend(); },
                   [this](const std::string& reason) {
                       const std::lock_guard guard(lock);
                       health.reason = reason;
                   });
}

Attempt TcpClientOutput::State::ConnectAndSend()
{
    Attempt attempt;
    const PeerSocket peer =
        ConnectTo(TcpPeer{options.host, options.port, options.connectWait, options.timeouts}, worker.stop(), attempt);
    if (!peer.socket.valid()) {
        return attempt;
    }
    Opened(peer.address);
    attempt = Serve(peer.socket.get());
    Closed();
    return attempt;
}

// Writes what waits and reads what the server says, until the connection
// ends or the output stops.
Attempt TcpClientOutput::State::Serve(int socket)
{
    Attempt attempt;
    for (;;) {
        // Room to write is asked for only while something waits: a socket
        // with room would otherwise wake the thread without end.
        const auto events = static_cast<short>(POLLIN | (SomethingWaits() ? POLLOUT : 0));
        std::array<pollfd, 2> watched{{{delivered.fd(), POLLIN, 0}, {socket, events, 0}}};
        if (SleepUntil(worker.stop(), watched, kNoTimeout) == Woken::Stopping) {
            return Stopping();
        }
        // Drained before the queue is written: a chunk delivered later wakes the thread again.
        if (watched[0].revents != 0) {
            delivered.Drain();
        }
        if ((watched[1].revents & ~POLLOUT) != 0 && !DiscardIncoming(socket, attempt)) {
            return attempt;
        }
        if (!Flush(socket, attempt)) {
            return attempt;
        }
    }
}

// Reads what the server sent, if anything, and throws it away: it is read
// only so that its closing the connection, or an error, is seen.
bool TcpClientOutput::State::DiscardIncoming(int socket, Attempt& attempt)
{
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        const ssize_t got =
            RetryOnInterrupt([&] { return ::recv(socket, discarded.data(), discarded.size(), MSG_DONTWAIT); });
        if (got == 0) {
            attempt.reason = "closed by the peer";
            return false;
        }
        if (got < 0) {
            return OnlyWouldWait(attempt);
        }
    }
    return true;   // more may wait: poll() says so again
}

// Writes from the queue until it is empty or the socket's buffer is full.
bool TcpClientOutput::State::Flush(int socket, Attempt& attempt)
{
    for (;;) {
        std::span<const unsigned char> next;
        {
            const std::lock_guard guard(lock);
            next = queue->Next();
        }
        if (next.empty()) {
            return true;
        }
        // The chunk being written stays in the queue until all of it is sent,
        // so `next` stays valid outside the lock.
        const ssize_t sent =
            RetryOnInterrupt([&] { return ::send(socket, next.data(), next.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (sent < 0) {
            return OnlyWouldWait(attempt);
        }
        attempt.delivered = true;
        const std::lock_guard guard(lock);
        queue->Sent(static_cast<std::size_t>(sent));
    }
}

bool TcpClientOutput::State::SomethingWaits() const
{
    const std::lock_guard guard(lock);
    return !queue->empty();
}

void TcpClientOutput::State::Opened(const std::string& address)
{
    delivered.Drain();   // a wake left from the last connection, whose queue is gone
    {
        const std::lock_guard guard(lock);
        queue.emplace(options.queueBound);
        health.connected = true;
        health.address = address;
        health.reason.clear();
        ++health.connectionsMade;
    }
    connected = true;
}

// Drops the connection's queue, with whatever its server did not take.
void TcpClientOutput::State::Closed()
{
    connected = false;
    const std::lock_guard guard(lock);
    health.bytesSent += queue->bytesSent();
    health.bytesDropped += queue->bytesDropped();
    queue.reset();
    health.connected = false;
    health.address.clear();
}

bool TcpClientOutput::State::Begin(std::string& failure)
{
    if (!delivered.valid()) {
        failure = std::string("cannot make the TCP output's wake signal: ") + std::strerror(errno);
        return false;
    }
    failure.clear();
    return worker.Start("tcp-output", [this] { Run(); }, failure);
}

std::unique_ptr<TcpClientOutput> TcpClientOutput::Start(const TcpClientOutputOptions& options, std::string& failure)
{
    auto state = std::make_unique<State>();
    state->options = options;
    if (!state->Begin(failure)) {
        return nullptr;
    }
    return std::unique_ptr<TcpClientOutput>(new TcpClientOutput(std::move(state)));
}

TcpClientOutput::TcpClientOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}

TcpClientOutput::~TcpClientOutput() = default;

void TcpClientOutput::Deliver(std::span<const unsigned char> chunk)
{
    if (chunk.empty() || !state_->connected) {
        return;
    }
    const Chunk shared = std::make_shared<const std::vector<unsigned char>>(chunk.begin(), chunk.end());
    {
        const std::lock_guard guard(state_->lock);
        if (!state_->queue) {
            return;   // the connection ended meanwhile
        }
        state_->queue->Push(shared, ClientQueue::Clock::now());
    }
    state_->delivered.Wake();
}

TcpClientOutputHealth TcpClientOutput::Health() const
{
    const std::lock_guard guard(state_->lock);
    TcpClientOutputHealth health = state_->health;
    if (state_->queue) {
        health.bytesSent += state_->queue->bytesSent();
        health.bytesDropped += state_->queue->bytesDropped();
    }
    return health;
}

}  // namespace tavrel::network
