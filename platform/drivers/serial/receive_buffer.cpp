#include "drivers/serial/receive_buffer.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "platform/errors.h"
#include "platform/host/interrupted_calls.h"
#include "platform/serial_rules/host_errors.h"

namespace platform::serial {
namespace {

constexpr short hangupEvents = POLLHUP | POLLERR | POLLNVAL;

// What poll() reports of the device's input, without waiting: its revents,
// or -1 with errno set.
int PollInput(int fd)
{
    pollfd watched{fd, POLLIN, 0};
    const int ready = host::RetryOnInterrupt([&] { return ::poll(&watched, 1, 0); });
    return ready < 0 ? -1 : watched.revents;
}

}  // namespace

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
    const int revents = PollInput(fd);
    if (revents < 0) {
        result.error = errno;
        return result;
    }
    if ((revents & POLLIN) != 0) {
        ReadAvailable(fd, eventChar, result);
    }
    if ((revents & hangupEvents) != 0) {
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
        const ssize_t got = host::RetryOnInterrupt([&] { return ::read(fd, chunk.data(), wanted); });
        const int error = got < 0 ? errno : 0;
        if (error != 0) {
            NoteFailedRead(error, result);
            break;
        }
        BYTE* const end = chunk.data() + got;
        bytes_.insert(bytes_.end(), chunk.data(), end);
        NoteArrival(chunk.data(), end, eventChar);
        if (static_cast<std::size_t>(got) < wanted) {
            break;   // drained
        }
    }
    UpdateQueuedSignal();
}

ReceiveBuffer::ReadResult ReceiveBuffer::Read(int fd, BYTE* out, DWORD count, std::optional<BYTE> eventChar)
{
    std::lock_guard guard(lock_);
    ReadResult result;
    const auto queued = static_cast<std::ptrdiff_t>(std::min<std::size_t>(count, bytes_.size()));
    std::copy_n(bytes_.begin(), queued, out);
    bytes_.erase(bytes_.begin(), bytes_.begin() + queued);
    UpdateQueuedSignal();
    result.bytes = static_cast<DWORD>(queued);
    // Only once the queue is empty, so that bytes are delivered in order.
    if (result.bytes < count && !removed_) {
        result.bytes += ReadDevice(fd, out + result.bytes, count - result.bytes, eventChar, result);
        // A read that filled the request may have left more on the device:
        // taken in now, it survives a hang-up, and the next reads need no host call.
        if (result.bytes == count) {
            ReadAvailable(fd, eventChar, result);
        }
    }
    result.removed = removed_;
    return result;
}

DWORD ReceiveBuffer::ReadDevice(int fd, BYTE* out, DWORD count, std::optional<BYTE> eventChar, PullResult& result)
{
    const ssize_t got = host::RetryOnInterrupt([&] { return ::read(fd, out, count); });
    if (got > 0) {
        NoteArrival(out, out + got, eventChar);
        return static_cast<DWORD>(got);
    }
    if (got == 0) {
        CheckForHangup(fd, result);
    } else {
        NoteFailedRead(errno, result);
    }
    return 0;
}

// With VMIN = VTIME = 0 read() returns 0 both when nothing is there and
// after a hang-up; poll() tells them apart.
void ReceiveBuffer::CheckForHangup(int fd, PullResult& result)
{
    const int revents = PollInput(fd);
    if (revents < 0) {
        result.error = errno;
    } else if ((revents & hangupEvents) != 0) {
        removed_ = true;
    }
}

void ReceiveBuffer::NoteFailedRead(int error, PullResult& result)
{
    if (serial_rules::IoErrorFromErrno(error) == ERROR_DEVICE_REMOVED) {
        removed_ = true;
    } else if (error != EAGAIN) {
        result.error = error;
    }
}

void ReceiveBuffer::NoteArrival(const BYTE* begin, const BYTE* end, std::optional<BYTE> eventChar)
{
    if (eventChar && std::find(begin, end, *eventChar) != end) {
        eventCharSeen_ = true;
    }
}

bool ReceiveBuffer::ReadWouldReturn(int fd)
{
    std::lock_guard guard(lock_);
    if (!bytes_.empty() || removed_) {
        return true;
    }
    // Data, a hang-up, or a device that cannot even be polled: a read returns.
    return PollInput(fd) != 0;
}

int ReceiveBuffer::QueuedSignal()
{
    std::lock_guard guard(lock_);
    if (!queuedSignal_ || !queuedSignal_->valid()) {
        queuedSignal_.emplace();
        signalled_ = false;
        UpdateQueuedSignal();
    }
    return queuedSignal_->fd();
}

void ReceiveBuffer::UpdateQueuedSignal()
{
    const bool queued = !bytes_.empty();
    if (!queuedSignal_ || !queuedSignal_->valid() || queued == signalled_) {
        return;
    }
    if (queued) {
        queuedSignal_->Wake();
    } else {
        queuedSignal_->Drain();
    }
    signalled_ = queued;
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
    UpdateQueuedSignal();
    return host::RetryOnInterrupt([fd] { return ::tcflush(fd, TCIFLUSH); }) == 0 ? 0 : errno;
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
