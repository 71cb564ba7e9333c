#include "network/tcp_server.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include "network/host_address.h"
#include "platform/host/interrupted_calls.h"
#include "platform/host/wake_signal.h"

namespace tavrel::network {
namespace {

using platform::host::RetryOnInterrupt;
using platform::host::UniqueFd;
using Clock = ClientQueue::Clock;

// What one wake-up reads of one client at most, so that a client that sends
// without pause does not keep the server from the others.
constexpr int kReadsPerWake = 8;
constexpr std::size_t kReadBytes = 16 * 1024;
constexpr int kEventsPerWait = 32;
// While the process has no descriptor to spare, waiting connections are
// looked at again this often rather than in a busy loop.
constexpr std::chrono::milliseconds kAcceptRetry{500};

struct Client {
    UniqueFd socket;
    std::string address;
    std::chrono::system_clock::time_point since;
    ClientQueue queue;
    bool waitingForRoom = false;   // its socket's buffer was full: wait for EPOLLOUT
    std::uint64_t id = 0;          // counts up, never reused: who talks
    bool talks = false;
};

enum class Outcome { Stays, Gone };

}  // namespace

// Everything the server's thread and Deliver() share. The list of clients
// changes on the server's thread only, under `lock`; Deliver() and Health()
// read it under `lock`; each client's queue is touched under `lock` only.
struct TcpServer::State {
    TcpServerOptions options;
    UniqueFd listener;
    UniqueFd epoll;
    platform::host::WakeSignal wake;   // a chunk was delivered, or the server ends
    std::uint16_t port = 0;
    std::atomic<bool> ending{false};
    std::atomic<std::size_t> clientCount{0};
    bool listening = true;   // the listener is watched; false while descriptors ran out

    mutable std::mutex lock;
    std::list<Client> clients;
    std::uint64_t refused = 0;
    std::uint64_t cutOff = 0;
    std::uint64_t lastId = 0;

    std::thread thread;   // last: it uses everything above

    void Run();
    void Accept();
    void Listen(bool listen);
    void Admit(UniqueFd socket, const HostAddress& peer);
    void Serve(int socket, std::uint32_t events);
    void FlushAll();
    Outcome Flush(Client& client);
    Outcome ReadFromClient(Client& client);
    void WaitForRoom(Client& client, bool wait);
    void Remove(int socket);
    void CutOffStalled();
    int WaitMilliseconds() const;
    Client* Find(int socket);
};

void TcpServer::State::Run()
{
    ::pthread_setname_np(::pthread_self(), "tcp-server");
    std::array<epoll_event, kEventsPerWait> events{};
    while (!ending) {
        const int ready = ::epoll_wait(epoll.get(), events.data(), kEventsPerWait, WaitMilliseconds());
        if (ready < 0 && errno != EINTR) {
            return;
        }
        // A listener set aside for want of descriptors is tried again after a wait.
        Listen(true);
        for (int i = 0; i < ready; ++i) {
            const epoll_event& event = events[static_cast<std::size_t>(i)];
            if (event.data.fd == wake.fd()) {
                wake.Drain();
                FlushAll();
            } else if (event.data.fd == listener.get()) {
                Accept();
            } else {
                Serve(event.data.fd, event.events);
            }
        }
        CutOffStalled();
    }
}

void TcpServer::State::Accept()
{
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        UniqueFd socket(::accept4(listener.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.valid()) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE) {
                Listen(false);   // the connection stays waiting; epoll would report it at once again
            }
            return;
        }
        const HostAddress address = FromSocketAddress(peer);
        if (clientCount >= options.maxClients || !options.allow.Allows(address)) {
            // Accepted only to be closed at once: the peer learns at once that it is not served.
            const std::lock_guard guard(lock);
            ++refused;
            continue;
        }
        Admit(std::move(socket), address);
    }
}

void TcpServer::State::Listen(bool listen)
{
    if (listening == listen) {
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener.get();
    if (::epoll_ctl(epoll.get(), listen ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listener.get(), &event) == 0) {
        listening = listen;
    }
}

void TcpServer::State::Admit(UniqueFd socket, const HostAddress& peer)
{
    TuneClientSocket(socket.get(), options.clientTimeouts);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = socket.get();
    if (::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, socket.get(), &event) != 0) {
        return;
    }
    const bool talks = options.talk && (!options.allow.AllowsAnyone() || IsLoopback(peer));
    const std::lock_guard guard(lock);
    clients.push_back(Client{std::move(socket), AddressText(peer), std::chrono::system_clock::now(),
                             ClientQueue(options.queueBound), false, ++lastId, talks});
    clientCount = clients.size();
}

void TcpServer::State::Serve(int socket, std::uint32_t events)
{
    Client* client = Find(socket);
    if (client == nullptr) {
        return;
    }
    Outcome outcome = (events & (EPOLLERR | EPOLLHUP)) != 0 ? Outcome::Gone : Outcome::Stays;
    if (outcome == Outcome::Stays && (events & EPOLLIN) != 0) {
        outcome = ReadFromClient(*client);
    }
    if (outcome == Outcome::Stays && (events & EPOLLOUT) != 0) {
        outcome = Flush(*client);
    }
    if (outcome == Outcome::Gone) {
        Remove(socket);
    }
}

void TcpServer::State::FlushAll()
{
    std::vector<int> gone;
    for (Client& client : clients) {
        if (!client.waitingForRoom && Flush(client) == Outcome::Gone) {
            gone.push_back(client.socket.get());
        }
    }
    for (const int socket : gone) {
        Remove(socket);
    }
}

Outcome TcpServer::State::Flush(Client& client)
{
    for (;;) {
        std::span<const unsigned char> next;
        {
            const std::lock_guard guard(lock);
            next = client.queue.Next();
        }
        if (next.empty()) {
            WaitForRoom(client, false);
            return Outcome::Stays;
        }
        // The chunk being written stays in the queue until all of it is sent,
        // so `next` stays valid outside the lock.
        const ssize_t sent = RetryOnInterrupt(
            [&] { return ::send(client.socket.get(), next.data(), next.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (sent > 0) {
            const std::lock_guard guard(lock);
            client.queue.Sent(static_cast<std::size_t>(sent));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitForRoom(client, true);
            return Outcome::Stays;
        } else {
            return Outcome::Gone;
        }
    }
}

// Reads what the client sent: handed on when it talks, else thrown away.
Outcome TcpServer::State::ReadFromClient(Client& client)
{
    static thread_local std::array<unsigned char, kReadBytes> received;
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        const ssize_t got =
            RetryOnInterrupt([&] { return ::recv(client.socket.get(), received.data(), received.size(), MSG_DONTWAIT); });
        if (got == 0) {
            return Outcome::Gone;   // the client closed its side: it has left
        }
        if (got < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK ? Outcome::Stays : Outcome::Gone;
        }
        if (client.talks) {
            options.talk(client.id, std::span<const unsigned char>(received.data(), static_cast<std::size_t>(got)));
        }
    }
    return Outcome::Stays;   // more may wait: epoll says so again on its next round
}

void TcpServer::State::WaitForRoom(Client& client, bool wait)
{
    if (client.waitingForRoom == wait) {
        return;
    }
    client.waitingForRoom = wait;
    epoll_event event{};
    event.events = EPOLLIN | (wait ? EPOLLOUT : 0U);
    event.data.fd = client.socket.get();
    (void)::epoll_ctl(epoll.get(), EPOLL_CTL_MOD, client.socket.get(), &event);
}

void TcpServer::State::Remove(int socket)
{
    // Closing the socket takes it out of the epoll set too.
    std::optional<std::uint64_t> talker;
    {
        const std::lock_guard guard(lock);
        const Client* client = Find(socket);
        if (client != nullptr && client->talks) {
            talker = client->id;
        }
        clients.remove_if([socket](const Client& candidate) { return candidate.socket.get() == socket; });
        clientCount = clients.size();
    }
    if (talker) {
        options.talk(*talker, {});
    }
}

void TcpServer::State::CutOffStalled()
{
    const auto now = Clock::now();
    std::vector<int> stalled;
    {
        const std::lock_guard guard(lock);
        for (const Client& client : clients) {
            const auto since = client.queue.fullSince();
            if (since && now - *since >= options.fullClientKept) {
                stalled.push_back(client.socket.get());
            }
        }
        cutOff += stalled.size();
    }
    for (const int socket : stalled) {
        Remove(socket);
    }
}

int TcpServer::State::WaitMilliseconds() const
{
    const std::lock_guard guard(lock);
    std::optional<Clock::time_point> earliest;
    for (const Client& client : clients) {
        const auto since = client.queue.fullSince();
        if (since && (!earliest || *since < *earliest)) {
            earliest = since;
        }
    }
    if (!earliest) {
        // Nobody stays behind: sleep until something happens.
        return listening ? -1 : static_cast<int>(kAcceptRetry.count());
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*earliest + options.fullClientKept - Clock::now());
    const auto most = listening ? std::numeric_limits<int>::max() : kAcceptRetry.count();
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, most));
}

Client* TcpServer::State::Find(int socket)
{
    const auto found = std::find_if(clients.begin(), clients.end(),
                                    [socket](const Client& client) { return client.socket.get() == socket; });
    return found == clients.end() ? nullptr : &*found;
}

namespace {

bool Watch(int epoll, int socket)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = socket;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, socket, &event) == 0;
}

}  // namespace

std::unique_ptr<TcpServer> TcpServer::Start(const TcpServerOptions& options, std::string& failure)
{
    auto state = std::make_unique<State>();
    state->options = options;
    state->listener = ListenSocket(options.listenOn, options.port, failure);
    if (!state->listener.valid()) {
        return nullptr;
    }
    state->port = BoundPort(state->listener.get());
    state->epoll = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!state->epoll.valid() || !state->wake.valid() || !Watch(state->epoll.get(), state->listener.get()) ||
        !Watch(state->epoll.get(), state->wake.fd())) {
        failure = std::string("cannot watch the TCP server's sockets: ") + std::strerror(errno);
        return nullptr;
    }
    try {
        State* running = state.get();
        state->thread = std::thread([running] { running->Run(); });
    } catch (const std::system_error& error) {
        failure = std::string("cannot start the TCP server's thread: ") + error.what();
        return nullptr;
    }
    failure.clear();
    return std::unique_ptr<TcpServer>(new TcpServer(std::move(state)));
}

TcpServer::TcpServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

TcpServer::~TcpServer()
{
    state_->ending = true;
    state_->wake.Wake();
    state_->thread.join();
}

std::uint16_t TcpServer::port() const
{
    return state_->port;
}

void TcpServer::Deliver(std::span<const unsigned char> bytes)
{
    if (bytes.empty() || state_->clientCount == 0) {
        return;
    }
    const Chunk chunk = std::make_shared<const std::vector<unsigned char>>(bytes.begin(), bytes.end());
    const auto now = Clock::now();
    {
        const std::lock_guard guard(state_->lock);
        for (Client& client : state_->clients) {
            client.queue.Push(chunk, now);
        }
    }
    state_->wake.Wake();
}

TcpServerHealth TcpServer::Health() const
{
    const std::lock_guard guard(state_->lock);
    TcpServerHealth health;
    health.clientsRefused = state_->refused;
    health.clientsCutOff = state_->cutOff;
    for (const Client& client : state_->clients) {
        health.clients.push_back(
            ClientHealth{client.address, client.since, client.queue.bytesSent(), client.queue.bytesDropped()});
    }
    return health;
}

}  // namespace tavrel::network
