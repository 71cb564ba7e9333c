#include "session/answer_loop.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/host/interrupted_calls.h"

namespace platform::session {
namespace {

bool WouldBlock(ssize_t result)
{
    return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace

void AnswerLoop::Run()
{
    std::vector<pollfd> watched;
    for (;;) {
        // While the process is out of descriptors the listener stays readable;
        // it is left out for a moment instead of being polled in a spin.
        if (acceptAgainAt_ && Clock::now() >= *acceptAgainAt_) {
            acceptAgainAt_.reset();
        }
        const bool accepting = !acceptAgainAt_;
        watched.assign({pollfd{wake_, POLLIN, 0}, pollfd{listener_, static_cast<short>(accepting ? POLLIN : 0), 0}});
        for (const Client& client : clients_) {
            watched.push_back(pollfd{client.fd.get(), static_cast<short>(client.answering ? POLLOUT : POLLIN), 0});
        }
        const int ready = ::poll(watched.data(), watched.size(), PollTimeout(Clock::now()));
        if (ready < 0 && errno != EINTR) {
            return;   // nothing here can fail but for a lack of memory: stop serving
        }
        if ((watched[0].revents & POLLIN) != 0) {
            return;
        }
        // Clients first, in the order of the poll list, then the new ones.
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            Client& client = clients_[i];
            client.finished = Serve(client, watched[i + 2].revents) == Progress::Done || now >= client.deadline;
        }
        std::erase_if(clients_, [](const Client& client) { return client.finished; });
        if ((watched[1].revents & POLLIN) != 0) {
            AcceptClients();
        }
    }
}

// No clients: sleep until one comes. Otherwise wake at the earliest bound.
int AnswerLoop::PollTimeout(Clock::time_point now) const
{
    std::optional<Clock::time_point> earliest = acceptAgainAt_;
    for (const Client& client : clients_) {
        earliest = earliest ? std::min(*earliest, client.deadline) : client.deadline;
    }
    if (!earliest) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*earliest - now);
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void AnswerLoop::AcceptClients()
{
    for (;;) {
        host::UniqueFd client(::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client.valid()) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptAgainAt_ = Clock::now() + kAcceptPause;
            }
            return;   // EAGAIN: all taken
        }
        if (clients_.size() < kMaxClients) {
            Client added;
            added.fd = std::move(client);
            added.deadline = Clock::now() + AnswerSocket::kClientBound;
            clients_.push_back(std::move(added));
        }
    }
}

AnswerLoop::Progress AnswerLoop::Serve(Client& client, short events)
{
    if ((events & (POLLERR | POLLNVAL)) != 0) {
        return Progress::Done;
    }
    if ((events & (POLLIN | POLLHUP)) != 0 && !client.answering) {
        return Receive(client);
    }
    if ((events & POLLOUT) != 0 && client.answering) {
        return SendAnswer(client);
    }
    return Progress::Waiting;
}

// Reads what the client sent; once its line is whole (or it has finished
// sending), answers it.
AnswerLoop::Progress AnswerLoop::Receive(Client& client)
{
    char buffer[512];
    for (;;) {
        const ssize_t count = host::RetryOnInterrupt([&] { return ::recv(client.fd.get(), buffer, sizeof buffer, 0); });
        if (WouldBlock(count)) {
            return Progress::Waiting;
        }
        if (count < 0) {
            return Progress::Done;
        }
        client.received.append(buffer, static_cast<std::size_t>(count));
        const std::size_t end = client.received.find('\n');
        if (end == std::string::npos && count > 0 && client.received.size() <= AnswerSocket::kLongestRequest) {
            continue;
        }
        if (end == std::string::npos && (count > 0 || client.received.empty())) {
            return Progress::Done;   // too long to be a request, or left without asking
        }
        std::string_view request(client.received.data(), std::min(end, client.received.size()));
        if (!request.empty() && request.back() == '\r') {
            request.remove_suffix(1);
        }
        if (request.size() > AnswerSocket::kLongestRequest) {
            return Progress::Done;
        }
        client.answer = answerer_(request);
        client.answering = true;
        return SendAnswer(client);
    }
}

AnswerLoop::Progress AnswerLoop::SendAnswer(Client& client)
{
    while (client.sent < client.answer.size()) {
        // MSG_NOSIGNAL: a client that went away must not end the program with SIGPIPE.
        const ssize_t count = host::RetryOnInterrupt([&] {
            return ::send(client.fd.get(), client.answer.data() + client.sent, client.answer.size() - client.sent,
                          MSG_NOSIGNAL);
        });
        if (WouldBlock(count)) {
            return Progress::Waiting;
        }
        if (count <= 0) {
            return Progress::Done;
        }
        client.sent += static_cast<std::size_t>(count);
    }
    return Progress::Done;
}

}  // namespace platform::session
