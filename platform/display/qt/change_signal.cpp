#include "display/qt/change_signal.h"

#include <stdexcept>

namespace platform::qt {

ChangeSignal::ChangeSignal()
{
    if (!wake_.valid()) {
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
    wake_.Wake();
}

void ChangeSignal::Take()
{
    // Drained first and cleared after: a Raise that comes in between finds
    // the signal still raised and writes nothing, and its change is visible
    // once the lock below has been taken.
    wake_.Drain();
    std::lock_guard guard(lock_);
    raised_ = false;
}

}  // namespace platform::qt
