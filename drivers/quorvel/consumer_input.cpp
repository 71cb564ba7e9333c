#include "consumer_input.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <system_error>

#include "platform/host/unique_fd.h"

namespace quorvel {

ConsumerInput::ConsumerInput()
{
    if (!ready_.valid()) {
        throw std::system_error(errno, std::generic_category(), "cannot create the signal of what programs send");
    }
}

bool ConsumerInput::SetLimit(DWORD requested)
{
    std::lock_guard lock(mutex_);
    limit_ = std::min<std::size_t>(requested, kLargestLimit);
    return IntakeMayGoOnLocked();
}

ConsumerInput::Room ConsumerInput::RoomForIntake()
{
    std::lock_guard lock(mutex_);
    if (limit_ == 0) {
        return Room{};
    }
    const std::size_t room = RoomLocked();
    intakeWaits_ = room == 0;
    return Room{true, room};
}

void ConsumerInput::Keep(std::span<const unsigned char> bytes)
{
    if (bytes.empty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    UpdateSignalLocked();
}

ConsumerInput::Taken ConsumerInput::Take(std::span<unsigned char> out)
{
    std::lock_guard lock(mutex_);
    const std::size_t count = std::min(out.size(), bytes_.size());
    const auto end = bytes_.begin() + static_cast<std::ptrdiff_t>(count);
    std::copy(bytes_.begin(), end, out.begin());
    bytes_.erase(bytes_.begin(), end);
    UpdateSignalLocked();
    return Taken{static_cast<DWORD>(count), count != 0 && IntakeMayGoOnLocked()};
}

bool ConsumerInput::Clear()
{
    std::lock_guard lock(mutex_);
    bytes_.clear();
    UpdateSignalLocked();
    return IntakeMayGoOnLocked();
}

bool ConsumerInput::Reset()
{
    std::lock_guard lock(mutex_);
    limit_ = 0;
    bytes_.clear();
    UpdateSignalLocked();
    return IntakeMayGoOnLocked();
}

std::size_t ConsumerInput::size() const
{
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

// An epoll set over the signal rather than the signal itself, so that the
// caller can neither drain it nor keep it alive once the port is gone.
// Level-triggered: readable for as long as the signal is.
int ConsumerInput::CreateWatch() const
{
    platform::host::UniqueFd watch(::epoll_create1(EPOLL_CLOEXEC));
    if (!watch.valid()) {
        return -1;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = ready_.fd();
    if (::epoll_ctl(watch.get(), EPOLL_CTL_ADD, ready_.fd(), &event) != 0) {
        return -1;
    }
    return watch.release();
}

std::size_t ConsumerInput::RoomLocked() const
{
    return limit_ > bytes_.size() ? limit_ - bytes_.size() : 0;
}

// The watcher goes on once it may drop again, or once there is room.
bool ConsumerInput::IntakeMayGoOnLocked()
{
    if (!intakeWaits_ || (limit_ != 0 && RoomLocked() == 0)) {
        return false;
    }
    intakeWaits_ = false;
    return true;
}

void ConsumerInput::UpdateSignalLocked()
{
    const bool kept = !bytes_.empty();
    if (kept == signalled_) {
        return;
    }
    if (kept) {
        ready_.Wake();
    } else {
        ready_.Drain();
    }
    signalled_ = kept;
}

}  // namespace quorvel
