// A wake-up that any thread raises without blocking and that one thread (the
// Qt thread) watches through a descriptor. Raising it again before it was
// taken adds nothing, so a burst of changes wakes the watcher once.
#pragma once

#include <mutex>

#include "platform/host/wake_signal.h"

namespace platform::qt {

class ChangeSignal {
public:
    ChangeSignal();
    ChangeSignal(const ChangeSignal&) = delete;
    ChangeSignal& operator=(const ChangeSignal&) = delete;

    void Raise();
    // Clears the signal. Whatever was changed before the Raise that this takes
    // is visible to the caller afterwards; a change after it raises anew.
    void Take();
    // Readable while the signal is raised.
    int Descriptor() const { return wake_.fd(); }

private:
    std::mutex lock_;
    bool raised_ = false;
    const host::WakeSignal wake_;
};

}  // namespace platform::qt
