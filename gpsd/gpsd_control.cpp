#include "gpsd/gpsd_control.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "platform/host/interrupted_calls.h"

namespace tavrel::gpsd {
namespace {

using platform::host::RetryOnInterrupt;

// gpsd's answers are "OK" and "ERROR"; a longer line is not gpsd talking.
constexpr std::size_t kLongestAnswer = 64;

int Milliseconds(GpsdControl::Clock::duration duration)
{
    const auto count = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
    return count <= 0 ? 0 : static_cast<int>(std::min<long long>(count, 60'000));
}

std::string Reason(int error)
{
    return std::strerror(error);
}

}  // namespace

GpsdControl::GpsdControl(const std::string& socketPath, Clock::duration timeLimit, int cut)
    : socketPath_(socketPath), timeLimit_(timeLimit), deadline_(Clock::now() + timeLimit), cut_(cut)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) {
        failure_ = "the control socket's path '" + socketPath + "' is empty or too long";
        return;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    platform::host::UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        failure_ = "cannot make a socket: " + Reason(errno);
        return;
    }
    const int result = RetryOnInterrupt(
        [&] { return ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address); });
    if (result != 0) {
        // A listener whose queue is full answers EAGAIN: as busy as one that never answers.
        failure_ = "cannot reach " + socketPath + ": " + Reason(errno);
        return;
    }
    socket_ = std::move(socket);
}

void GpsdControl::Fail(std::string why)
{
    failure_ = std::move(why);
    socket_ = platform::host::UniqueFd();
}

bool GpsdControl::WaitFor(short events, const char* what)
{
    for (;;) {
        pollfd watched[2] = {{socket_.get(), events, 0}, {cut_, POLLIN, 0}};
        const int ready = ::poll(watched, cut_ >= 0 ? 2 : 1, Milliseconds(deadline_ - Clock::now()));
        if (ready > 0 && watched[1].revents != 0) {
            Fail("the conversation with " + socketPath_ + " was cut short");
            return false;
        }
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            Fail(what + socketPath_);
            return false;
        }
    }
}

bool GpsdControl::SendLine(const std::string& line)
{
    std::size_t sent = 0;
    while (sent < line.size()) {
        // MSG_NOSIGNAL: a gpsd that went away must not end Tavrel with SIGPIPE.
        const ssize_t n = RetryOnInterrupt(
            [&] { return ::send(socket_.get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL); });
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitFor(POLLOUT, "no room to talk to ")) {
                return false;
            }
        } else {
            Fail("cannot talk to " + socketPath_ + ": " + Reason(errno));
            return false;
        }
    }
    return true;
}

std::optional<std::string> GpsdControl::ReceiveLine()
{
    for (;;) {
        if (const std::size_t end = received_.find('\n'); end != std::string::npos) {
            std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (received_.size() > kLongestAnswer) {
            Fail(socketPath_ + " does not answer as gpsd does");
            return std::nullopt;
        }
        if (!WaitFor(POLLIN, "no answer from ")) {
            return std::nullopt;
        }
        char buffer[kLongestAnswer];
        const ssize_t n = RetryOnInterrupt([&] { return ::recv(socket_.get(), buffer, sizeof buffer, 0); });
        if (n > 0) {
            received_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            Fail(socketPath_ + " closed the conversation");
            return std::nullopt;
        } else if (errno != EAGAIN) {
            Fail("cannot hear " + socketPath_ + ": " + Reason(errno));
            return std::nullopt;
        }
    }
}

std::optional<GpsdReply> GpsdControl::Command(char verb, const std::string& path)
{
    if (!connected()) {
        return std::nullopt;
    }
    // A line break in the path would end the command early and start another.
    if (path.find_first_of("\r\n") != std::string::npos) {
        failure_ = "a path with a line break cannot be handed over";
        return std::nullopt;
    }
    deadline_ = Clock::now() + timeLimit_;
    if (!SendLine(std::string(1, verb) + path + "\r\n")) {
        return std::nullopt;
    }
    const std::optional<std::string> answer = ReceiveLine();
    if (!answer) {
        return std::nullopt;
    }
    if (*answer == "OK") {
        return GpsdReply::Ok;
    }
    if (*answer == "ERROR") {
        return GpsdReply::Error;
    }
    Fail(socketPath_ + " answered '" + *answer + "', not as gpsd does");
    return std::nullopt;
}

}  // namespace tavrel::gpsd
