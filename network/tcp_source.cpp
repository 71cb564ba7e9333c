#include "network/tcp_source.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "network/host_address.h"
#include "platform/host/interrupted_calls.h"

namespace tavrel::network {
namespace {

using platform::host::RetryOnInterrupt;
using platform::host::UniqueFd;
using std::chrono::milliseconds;

constexpr std::size_t kChunkBytes = 4096;

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

// What a host and port stand for: the addresses to try in turn, or why there are none.
struct Resolved {
    std::vector<Address> addresses;
    std::string failure;
};

// A host's text ("Connection refused") as it reads in the middle of a sentence.
std::string Lowered(const char* text)
{
    std::string lowered = text;
    if (!lowered.empty()) {
        lowered.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(lowered.front())));
    }
    return lowered;
}

std::string LookupFailure(int error)
{
    switch (error) {
    case EAI_NONAME:
    case EAI_NODATA:
        return "no such host";
    case EAI_AGAIN:
        return "the name server did not answer";
    case EAI_SYSTEM:
        return Lowered(std::strerror(errno));
    default:
        return Lowered(::gai_strerror(error));
    }
}

// getaddrinfo() with `flags`; AI_NUMERICHOST makes it a parse that never waits.
Resolved Resolve(const std::string& host, std::uint16_t port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | flags;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
    Resolved resolved;
    if (error != 0) {
        resolved.failure = LookupFailure(error);
    }
    for (const addrinfo* each = found; each != nullptr; each = each->ai_next) {
        Address address;
        std::memcpy(&address.storage, each->ai_addr, each->ai_addrlen);
        address.length = each->ai_addrlen;
        resolved.addresses.push_back(address);
    }
    return resolved;
}

// A name lookup that its own thread makes, shared by that thread and the
// source, kept by whichever of them lets go of it last: getaddrinfo() cannot
// be interrupted and may take many seconds when the name server does not
// answer, and the source does not wait for it when it stops.
struct Lookup {
    platform::host::WakeSignal done;
    std::mutex lock;
    Resolved result;
};

std::string WaitText(milliseconds wait)
{
    return wait.count() % 1000 == 0 ? std::to_string(wait.count() / 1000) + " s" : std::to_string(wait.count()) + " ms";
}

// How one try went: whether the source is stopping, whether a connection
// brought data, and else why it ended.
struct Attempt {
    bool stopping = false;
    bool delivered = false;
    std::string reason;
};

Attempt Stopping()
{
    return Attempt{true, false, {}};
}

Attempt Failed(std::string reason)
{
    return Attempt{false, false, std::move(reason)};
}

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
    std::optional<Resolved> Find();
    std::optional<Resolved> LookUpName();
    UniqueFd Connect(const Address& address, Attempt& attempt);
    Attempt Read(int socket, const Address& address);
    void Change(TcpSourceState state, std::string address = {}, std::string reason = {});
};

void TcpSource::State::Run()
{
    const milliseconds longest = std::max(options.longestWait, milliseconds(1));
    const milliseconds first = std::clamp(options.firstWait, milliseconds(1), longest);
    milliseconds wait = first;
    for (;;) {
        Change(TcpSourceState::Connecting);
        const Attempt attempt = ConnectAndRead();
        if (attempt.stopping) {
            return;
        }
        if (attempt.delivered) {
            wait = first;
        }
        Change(TcpSourceState::Waiting, {}, attempt.reason);
        if (SleepUntil(worker.stop(), -1, 0, wait) == Woken::Stopping) {
            return;
        }
        wait = std::min(wait * 2, longest);
    }
}

// Tries each address of the host in turn, and reads the first that answers.
Attempt TcpSource::State::ConnectAndRead()
{
    const std::optional<Resolved> found = Find();
    if (!found) {
        return Stopping();
    }
    Attempt attempt = Failed(found->failure);
    for (const Address& address : found->addresses) {
        const UniqueFd socket = Connect(address, attempt);
        if (attempt.stopping) {
            return attempt;
        }
        if (socket.valid()) {
            return Read(socket.get(), address);
        }
    }
    return attempt;
}

// The host's addresses; nothing when the source is stopping meanwhile.
std::optional<Resolved> TcpSource::State::Find()
{
    Resolved numeric = Resolve(options.host, options.port, AI_NUMERICHOST);
    return numeric.addresses.empty() ? LookUpName() : std::move(numeric);
}

std::optional<Resolved> TcpSource::State::LookUpName()
{
    auto lookup = std::make_shared<Lookup>();
    if (!lookup->done.valid()) {
        return Resolved{{}, "cannot look the name up: " + Lowered(std::strerror(errno))};
    }
    std::string failure;
    auto looker = StartNamedThread(
        "host-lookup",
        [lookup, host = options.host, port = options.port] {
            Resolved result = Resolve(host, port, 0);
            const std::lock_guard guard(lookup->lock);
            lookup->result = std::move(result);
            lookup->done.Wake();
        },
        failure);
    if (!looker) {
        return Resolved{{}, failure};
    }
    looker->detach();
    if (SleepUntil(worker.stop(), lookup->done.fd(), POLLIN, kNoTimeout) == Woken::Stopping) {
        return std::nullopt;
    }
    const std::lock_guard guard(lookup->lock);
    return std::move(lookup->result);
}

// A socket connected to `address`; else an invalid one, with `attempt`
// saying why or that the source is stopping.
UniqueFd TcpSource::State::Connect(const Address& address, Attempt& attempt)
{
    UniqueFd socket(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        attempt = Failed(Lowered(std::strerror(errno)));
        return socket;
    }
    TuneClientSocket(socket.get(), options.timeouts);
    // A signal does not end a non-blocking connect: it goes on, as when in progress.
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 &&
        errno != EINPROGRESS && errno != EINTR) {
        attempt = Failed(Lowered(std::strerror(errno)));
        return UniqueFd();
    }
    switch (SleepUntil(worker.stop(), socket.get(), POLLOUT, options.connectWait)) {
    case Woken::Stopping:
        attempt = Stopping();
        return UniqueFd();
    case Woken::TimedOut:
        attempt = Failed("no answer within " + WaitText(options.connectWait));
        return UniqueFd();
    case Woken::Ready:
        break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    if (error != 0) {
        attempt = Failed(Lowered(std::strerror(error)));
        return UniqueFd();
    }
    return socket;
}

// Reads until the connection ends or the source stops.
Attempt TcpSource::State::Read(int socket, const Address& address)
{
    Change(TcpSourceState::Connected, AddressText(FromSocketAddress(address.storage)));
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
            attempt.reason = Lowered(std::strerror(errno));
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
