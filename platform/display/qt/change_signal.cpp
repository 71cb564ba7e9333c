#include "display/qt/change_signal.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace platform::qt {

ChangeSignal::ChangeSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (!fd_.valid()) {
        throw std::runtime_error("cannot make an eventfd for the display");
    }
}

void ChangeSignal::Raise()
{
    {
        std::lock_guard guard(lock_);
        if (raised_) {
            return;
        }
        raised_ = true;
    }
    // Non-blocking: the counter cannot come near its limit, since it is only
    // written while the signal was not raised.
    const std::uint64_t one = 1;
    while (::write(fd_.get(), &one, sizeof(one)) < 0 && errno == EINTR) {
    }
}

void ChangeSignal::Take()
{
    // Drained first and cleared after: a Raise that comes in between finds
    // the signal still raised and writes nothing, and its change is visible
    // once the lock below has been taken.
    std::uint64_t count = 0;
    while (::read(fd_.get(), &count, sizeof(count)) < 0 && errno == EINTR) {
    }
    std::lock_guard guard(lock_);
    raised_ = false;
}

}  // namespace platform::qt
