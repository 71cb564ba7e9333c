// A virtual port's receive side: what consumers write to their end, taken off
// the pty by the line watcher and kept for the data open to read, or dropped
// when the data open set no input queue.
#include <algorithm>
#include <cerrno>

#include "platform/serial_rules/host_errors.h"
#include "virtual_port.h"

namespace quorvel {

void VirtualPort::SetInputQueue(DWORD size)
{
    if (input_.SetLimit(size)) {
        watcher_.Resume();
    }
}

DWORD VirtualPort::Read(std::span<unsigned char> out)
{
    const ConsumerInput::Taken taken = input_.Take(out);
    if (taken.intakeMayGoOn) {
        watcher_.Resume();   // the pty held the rest back while nothing more fitted
    }
    return taken.bytes;
}

DWORD VirtualPort::CreateReceiveWatch(DWORD& descriptor)
{
    const int watch = input_.CreateWatch();
    if (watch < 0) {
        return platform::serial_rules::IoErrorFromErrno(errno);
    }
    descriptor = static_cast<DWORD>(watch);
    return ERROR_SUCCESS;
}

bool VirtualPort::ReceiveReady() const
{
    return input_.size() != 0;
}

// On the watcher's thread. The pty is read without mutex_, so that a chatty
// consumer never holds up a write. Reading takes the news of a change of the
// line's settings off the master, where a write looks for it: a change is
// seen to before the read, and one that came during the read, after it.
// While the kept bytes are at their limit nothing is read: the rest stays in
// the pty until a read makes room and resumes the watcher.
bool VirtualPort::TakeConsumerInput()
{
    std::lock_guard intake(intake_);
    KeepRawIf(pty_.Look().settingsChanged);
    const ConsumerInput::Room room = input_.RoomForIntake();
    const PseudoTerminal::Intake taken = room.keeping ? KeepConsumerInput(room.bytes) : pty_.DiscardConsumerInput();
    KeepRawIf(taken.settingsChanged);
    return taken.mayRemain;
}

// Reads at most `room` bytes into the kept ones, a bounded amount per call as
// DiscardConsumerInput does. Having filled the room it asks to be called
// again, to find out whether a read made more meanwhile; without room it
// waits to be resumed.
PseudoTerminal::Intake VirtualPort::KeepConsumerInput(std::size_t room)
{
    constexpr int kReadsPerCall = 16;
    unsigned char buffer[PseudoTerminal::kLargestRead];
    PseudoTerminal::Intake taken;
    if (room == 0) {
        return taken;
    }
    for (int i = 0; i < kReadsPerCall && room > 0; ++i) {
        const std::size_t wanted = std::min(room, sizeof buffer);
        const PseudoTerminal::Received received = pty_.ReadConsumerInput(std::span(buffer, wanted));
        taken.settingsChanged = taken.settingsChanged || received.settingsChanged;
        if (received.drained) {
            return taken;
        }
        input_.Keep(std::span(buffer, received.bytes));
        room -= received.bytes;
    }
    taken.mayRemain = true;
    return taken;
}

void VirtualPort::KeepRawIf(bool settingsChanged)
{
    if (settingsChanged) {
        std::lock_guard lock(mutex_);
        KeepRawLocked();
    }
}

// What is kept and what waits in the pty now; the watcher takes whatever
// comes later, or what a consumer that never stops leaves beyond the bound.
void VirtualPort::DropConsumerInput()
{
    std::lock_guard intake(intake_);
    const bool intakeMayGoOn = input_.Clear();
    KeepRawIf(pty_.DiscardConsumerInput().settingsChanged);
    if (intakeMayGoOn) {
        watcher_.Resume();
    }
}

}  // namespace quorvel
