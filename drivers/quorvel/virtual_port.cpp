#include "virtual_port.h"

#include <algorithm>

#include "host_errors.h"

namespace quorvel {

VirtualPort::VirtualPort(const DEVICE_HOST& host)
    : host_(host),
      link_(host_.nodeFolder(), host_.portName(), pty_.slavePath()),
      watcher_(
          pty_.master(), [this] { return OnLineActivity(); },
          [this](const char* what, int error) { host_.Debug(what, error); })
{
}

VirtualPort::~VirtualPort()
{
    if (const int error = link_.Remove(); error != 0) {
        host_.Debug("cannot remove the port's link", error);
    }
}

OpenContext* VirtualPort::Open()
{
    std::lock_guard lock(mutex_);
    opens_.push_back(std::make_unique<OpenContext>(*this));
    return opens_.back().get();
}

bool VirtualPort::Close(OpenContext* context)
{
    std::lock_guard lock(mutex_);
    const auto found =
        std::find_if(opens_.begin(), opens_.end(), [context](const auto& open) { return open.get() == context; });
    if (found == opens_.end()) {
        host_.SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    opens_.erase(found);
    return true;
}

DWORD VirtualPort::Write(std::span<const unsigned char> bytes)
{
    std::lock_guard lock(mutex_);
    if (pty_.NobodyHasSlaveOpen()) {
        // Like a serial line with nothing plugged in: sent, and gone. Also
        // makes sure that what the last consumer left unread is gone.
        DiscardWhatWaitsLocked();
        return ERROR_SUCCESS;
    }
    if (const int error = pty_.KeepRaw(); error != 0) {
        host_.Debug("cannot keep the pseudo-terminal in raw mode", error);
    }
    recent_.Append(bytes);
    const PseudoTerminal::WriteResult result = pty_.WriteSome(bytes);
    if (result.error != 0) {
        host_.Debug("cannot write to the pseudo-terminal", result.error);
        return Win32ErrorFromErrno(result.error);
    }
    if (result.written < bytes.size()) {
        KeepNewestLocked();
    }
    return ERROR_SUCCESS;
}

// The pty is full: its unread bytes are the stream's newest ones, and more of
// them than recent_ holds. Empty it and write the newest bytes back.
void VirtualPort::KeepNewestLocked()
{
    if (const int error = pty_.DiscardPending(); error != 0) {
        host_.Debug("cannot drop old data for new", error);
        return;
    }
    const std::span<const unsigned char> newest = recent_.Newest();
    const PseudoTerminal::WriteResult result = pty_.WriteSome(newest);
    if (result.error != 0 || result.written < newest.size()) {
        host_.Debug("cannot write the newest data again", result.error);
    }
}

void VirtualPort::DiscardWhatWaitsLocked()
{
    if (recent_.empty()) {
        return;   // nothing was written since the pty was last emptied
    }
    recent_.Clear();
    if (const int error = pty_.DiscardPending(); error != 0) {
        host_.Debug("cannot drop data that nobody reads", error);
    }
}

// On the watcher's thread. Consumer input is read without the lock, so that a
// chatty consumer never holds up a write.
bool VirtualPort::OnLineActivity()
{
    const bool inputMayRemain = pty_.DiscardConsumerInput() == PseudoTerminal::Input::MayRemain;
    std::lock_guard lock(mutex_);
    if (pty_.NobodyHasSlaveOpen()) {
        DiscardWhatWaitsLocked();
    }
    return inputMayRemain;
}

void VirtualPort::Purge(DWORD flags)
{
    if ((flags & PURGE_RXCLEAR) != 0) {
        pty_.DiscardConsumerInput();   // the watcher takes whatever is left
    }
    if ((flags & PURGE_TXCLEAR) != 0) {
        std::lock_guard lock(mutex_);
        recent_.Clear();
        if (const int error = pty_.DiscardPending(); error != 0) {
            host_.Debug("cannot drop data that waits for the consumer", error);
        }
    }
}

}  // namespace quorvel
