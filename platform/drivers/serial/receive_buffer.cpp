#include "drivers/serial/receive_buffer.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "drivers/serial/host_errors.h"
#include "platform/errors.h"

namespace platform::serial {

ReceiveBuffer::PullResult ReceiveBuffer::Pull(int fd, std::optional<BYTE> eventChar)
{
    std::lock_guard guard(lock_);
    PullResult result;
    // A device that went away never comes back on this descriptor.
    if (removed_) {
        result.removed = true;
        return result;
    }
    // With VMIN = VTIME = 0 read() returns 0 both when nothing is there and
    // after a hang-up; poll() tells them apart.
    pollfd watched{fd, POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&watched, 1, 0)) < 0 && errno == EINTR) {
    }
    if (ready < 0) {
        result.error = errno;
        return result;
    }
    if ((watched.revents & POLLIN) != 0) {
        ReadAvailable(fd, eventChar, result);
    }
    if ((watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        removed_ = true;
    }
    result.removed = removed_;
    return result;
}

void ReceiveBuffer::ReadAvailable(int fd, std::optional<BYTE> eventChar, PullResult& result)
{
    std::array<BYTE, 4096> chunk;
    while (bytes_.size() < capacity_) {
        const std::size_t wanted = std::min(chunk.size(), capacity_ - bytes_.size());
        const ssize_t got = ::read(fd, chunk.data(), wanted);
        const int error = got < 0 ? errno : 0;
        if (error == EINTR) {
            continue;
        }
        if (error != 0) {
            if (IoErrorFromErrno(error) == ERROR_DEVICE_REMOVED) {
                removed_ = true;
            } else if (error != EAGAIN) {
                result.error = error;
            }
            return;
        }
        BYTE* const end = chunk.data() + got;
        bytes_.insert(bytes_.end(), chunk.data(), end);
        if (eventChar && std::find(chunk.data(), end, *eventChar) != end) {
            eventCharSeen_ = true;
        }
        if (static_cast<std::size_t>(got) < wanted) {
            return;   // drained
        }
    }
}

DWORD ReceiveBuffer::Take(BYTE* out, DWORD count)
{
    std::lock_guard guard(lock_);
    const auto taken = static_cast<std::ptrdiff_t>(std::min<std::size_t>(count, bytes_.size()));
    std::copy_n(bytes_.begin(), taken, out);
    bytes_.erase(bytes_.begin(), bytes_.begin() + taken);
    return static_cast<DWORD>(taken);
}

bool ReceiveBuffer::TakeEventCharSeen()
{
    std::lock_guard guard(lock_);
    return std::exchange(eventCharSeen_, false);
}

void ReceiveBuffer::ForgetEventChar()
{
    std::lock_guard guard(lock_);
    eventCharSeen_ = false;
}

int ReceiveBuffer::Discard(int fd)
{
    // Under the lock, so that no Pull() moves bytes between the two flushes.
    std::lock_guard guard(lock_);
    bytes_.clear();
    eventCharSeen_ = false;
    while (::tcflush(fd, TCIFLUSH) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

bool ReceiveBuffer::empty() const
{
    std::lock_guard guard(lock_);
    return bytes_.empty();
}

bool ReceiveBuffer::full() const
{
    std::lock_guard guard(lock_);
    return bytes_.size() >= capacity_;
}

void ReceiveBuffer::SetRequestedSize(DWORD inQueue)
{
    std::lock_guard guard(lock_);
    capacity_ = std::clamp<std::size_t>(inQueue, defaultCapacity, largestCapacity);
}

}  // namespace platform::serial
