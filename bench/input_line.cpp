#include "bench/input_line.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tavrel::bench {

InputLine::InputLine()
{
    const int flags = ::fcntl(pty_.master(), F_GETFL);
    ::fcntl(pty_.master(), F_SETFL, flags | O_NONBLOCK);
}

ssize_t PlainWrite(int fd, const unsigned char* bytes, std::size_t size)
{
    return ::write(fd, bytes, size);
}

std::size_t WriteWithin(int fd, std::span<const unsigned char> bytes, Clock::time_point deadline, WriteSome write)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        done += written > 0 ? static_cast<std::size_t>(written) : 0;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (done == bytes.size() || left.count() <= 0) {
            break;
        }
        pollfd room{fd, POLLOUT, 0};
        ::poll(&room, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 100)));
    }
    return done;
}

std::size_t InputLine::WriteNow(std::span<const unsigned char> bytes) const
{
    const ssize_t written = PlainWrite(pty_.master(), bytes.data(), bytes.size());
    return written > 0 ? static_cast<std::size_t>(written) : 0;
}

std::size_t InputLine::Write(std::span<const unsigned char> bytes, Clock::time_point deadline) const
{
    return WriteWithin(pty_.master(), bytes, deadline);
}

}  // namespace tavrel::bench
