// The asking end of an answer socket.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

#include "platform/answer_socket.h"
#include "platform/host/interrupted_calls.h"
#include "platform/host/unique_fd.h"
#include "session/local_address.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

bool SendAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t count =
            host::RetryOnInterrupt([&] { return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); });
        if (count <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// Everything until the other end closes, or nothing when that takes longer
// than the deadline (errno ETIMEDOUT).
std::optional<std::string> ReceiveAll(int fd, Clock::time_point deadline)
{
    std::string answer;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{fd, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&wait, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            errno = ready == 0 ? ETIMEDOUT : errno;
            return std::nullopt;
        }
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return answer;
        }
        answer.append(buffer, static_cast<std::size_t>(count));
    }
}

}  // namespace

std::optional<std::string> AskAnswerSocket(const std::filesystem::path& path, std::string_view request,
                                           std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    sockaddr_un address{};
    if (!session::LocalAddressOf(path, address)) {
        return std::nullopt;
    }
    const host::UniqueFd connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection.valid()) {
        return std::nullopt;
    }
    // A connect waits while the listener's backlog is full; not longer than this.
    const timeval bound{static_cast<time_t>(timeout.count() / 1000),
                        static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    ::setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    const int connected = host::RetryOnInterrupt(
        [&] { return ::connect(connection.get(), session::AsSocketAddress(address), sizeof address); });
    if (connected != 0) {
        return std::nullopt;
    }
    std::string line(request);
    line += '\n';
    if (!SendAll(connection.get(), line)) {
        return std::nullopt;
    }
    return ReceiveAll(connection.get(), deadline);
}

}  // namespace platform
