#include "network/tcp_connector.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "network/host_address.h"
#include "network/input_thread.h"

namespace tavrel::network {
namespace {

using platform::host::UniqueFd;
using platform::host::WakeSignal;
using std::chrono::milliseconds;

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
        return ErrorText(errno);
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
// owner, kept by whichever of them lets go of it last: getaddrinfo() cannot
// be interrupted, and the owner does not wait for it when it stops.
struct Lookup {
    WakeSignal done;
    std::mutex lock;
    Resolved result;
};

std::optional<Resolved> LookUpName(const TcpPeer& peer, const WakeSignal& stop)
{
    auto lookup = std::make_shared<Lookup>();
    if (!lookup->done.valid()) {
        return Resolved{{}, "cannot look the name up: " + ErrorText(errno)};
    }
    std::string failure;
    auto looker = StartNamedThread(
        "host-lookup",
        [lookup, host = peer.host, port = peer.port] {
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
    if (SleepUntil(stop, lookup->done.fd(), POLLIN, kNoTimeout) == Woken::Stopping) {
        return std::nullopt;
    }
    const std::lock_guard guard(lookup->lock);
    return std::move(lookup->result);
}

// The peer's addresses; nothing when the owner is stopping meanwhile.
std::optional<Resolved> Find(const TcpPeer& peer, const WakeSignal& stop)
{
    Resolved numeric = Resolve(peer.host, peer.port, AI_NUMERICHOST);
    return numeric.addresses.empty() ? LookUpName(peer, stop) : std::move(numeric);
}

std::string WaitText(milliseconds wait)
{
    return wait.count() % 1000 == 0 ? std::to_string(wait.count() / 1000) + " s" : std::to_string(wait.count()) + " ms";
}

// A socket connected to `address`; else an invalid one, with `attempt`
// saying why or that the owner is stopping.
UniqueFd ConnectToAddress(const TcpPeer& peer, const Address& address, const WakeSignal& stop, Attempt& attempt)
{
    UniqueFd socket(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        attempt = Failed(ErrorText(errno));
        return socket;
    }
    TuneClientSocket(socket.get(), peer.timeouts);
    // A signal does not end a non-blocking connect: it goes on, as when in progress.
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 &&
        errno != EINPROGRESS && errno != EINTR) {
        attempt = Failed(ErrorText(errno));
        return UniqueFd();
    }
    switch (SleepUntil(stop, socket.get(), POLLOUT, peer.connectWait)) {
    case Woken::Stopping:
        attempt = Stopping();
        return UniqueFd();
    case Woken::TimedOut:
        attempt = Failed("no answer within " + WaitText(peer.connectWait));
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
        attempt = Failed(ErrorText(error));
        return UniqueFd();
    }
    return socket;
}

}  // namespace

Attempt Stopping()
{
    return Attempt{true, false, {}};
}

Attempt Failed(std::string reason)
{
    return Attempt{false, false, std::move(reason)};
}

std::string ErrorText(int error)
{
    return Lowered(std::strerror(error));
}

PeerSocket ConnectTo(const TcpPeer& peer, const WakeSignal& stop, Attempt& attempt)
{
    const std::optional<Resolved> found = Find(peer, stop);
    if (!found) {
        attempt = Stopping();
        return {};
    }
    attempt = Failed(found->failure);
    for (const Address& address : found->addresses) {
        UniqueFd socket = ConnectToAddress(peer, address, stop, attempt);
        if (attempt.stopping) {
            return {};
        }
        if (socket.valid()) {
            return PeerSocket{std::move(socket), AddressText(FromSocketAddress(address.storage))};
        }
    }
    return {};
}

void KeepConnecting(const WakeSignal& stop, milliseconds firstWait, milliseconds longestWait,
                    const std::function<Attempt()>& connect, const std::function<void(const std::string&)>& waiting)
{
    const milliseconds longest = std::max(longestWait, milliseconds(1));
    const milliseconds first = std::clamp(firstWait, milliseconds(1), longest);
    milliseconds wait = first;
    for (;;) {
        const Attempt attempt = connect();
        if (attempt.stopping) {
            return;
        }
        if (attempt.delivered) {
            wait = first;
        }
        waiting(attempt.reason);
        if (SleepUntil(stop, -1, 0, wait) == Woken::Stopping) {
            return;
        }
        wait = std::min(wait * 2, longest);
    }
}

}  // namespace tavrel::network
