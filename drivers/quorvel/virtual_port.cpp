#include "virtual_port.h"

#include <algorithm>

#include "platform/comm.h"
#include "platform/serial_rules/host_errors.h"
#include "port_group.h"

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
    std::lock_guard lock(mutex_);
    WithdrawLocked();
}

OpenContext* VirtualPort::Open(DWORD access)
{
    const bool forData = (access & (GENERIC_READ | GENERIC_WRITE)) != 0;
    auto context = std::make_unique<OpenContext>(OpenContext{*this, forData, (access & GENERIC_READ) != 0});
    std::lock_guard lock(mutex_);
    opens_.reserve(opens_.size() + 1);   // so that nothing throws once the link is out
    if (forData && dataOpens_ == 0) {
        PublishLocked();
    }
    dataOpens_ += forData ? 1 : 0;
    opens_.push_back(std::move(context));
    return opens_.back().get();
}

bool VirtualPort::Close(OpenContext* context)
{
    std::lock_guard intake(intake_);
    std::lock_guard lock(mutex_);
    const auto found =
        std::find_if(opens_.begin(), opens_.end(), [context](const auto& open) { return open.get() == context; });
    if (found == opens_.end()) {
        host_.SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if ((*found)->forData && --dataOpens_ == 0) {
        WithdrawLocked();
        // Nobody reads what consumers send any more: the next data open
        // starts as a fresh one, without an input queue.
        if (input_.Reset()) {
            watcher_.Resume();
        }
    }
    opens_.erase(found);
    return true;
}

std::optional<std::string> VirtualPort::NodePath()
{
    std::lock_guard lock(mutex_);
    return link_.published() ? std::optional<std::string>(link_.path().string()) : std::nullopt;
}

SERIAL_LINE_HEALTH VirtualPort::LineHealth()
{
    std::lock_guard lock(mutex_);
    return SERIAL_LINE_HEALTH{bytesDropped_, pty_.Look().consumerPresent ? TRUE : FALSE, 0};
}

SERIAL_DEV_STATUS VirtualPort::CommStatus()
{
    std::lock_guard lock(mutex_);
    SERIAL_DEV_STATUS status{};
    status.ComStat.cbOutQue = static_cast<DWORD>(pending_.size());
    status.ComStat.cbInQue = static_cast<DWORD>(input_.size());
    return status;
}

// The pty has its group before a program can find it.
void VirtualPort::PublishLocked()
{
    SharePortWithGroup(host_, pty_);
    link_.Publish();
}

void VirtualPort::WithdrawLocked()
{
    if (const std::string problem = link_.Remove(); !problem.empty()) {
        host_.Debug(problem);
    }
}

DWORD VirtualPort::Write(std::span<const unsigned char> bytes)
{
    std::lock_guard lock(mutex_);
    // One look per write: whether anybody listens, and whether a consumer
    // changed the line's settings since the last write.
    const PseudoTerminal::LineState line = pty_.Look();
    if (!line.consumerPresent) {
        // Like a serial line with nothing plugged in: sent, and gone. Also
        // makes sure that what the last consumer left unread is gone.
        DiscardWhatWaitsLocked();
        return ERROR_SUCCESS;
    }
    if (line.settingsChanged) {
        KeepRawLocked();
    }
    wroteSinceEmptied_ = true;
    std::span<const unsigned char> rest = bytes;
    if (pending_.empty()) {
        const PseudoTerminal::WriteResult result = pty_.WriteSome(bytes);
        if (result.error != 0) {
            host_.Debug("cannot write to the pseudo-terminal", result.error);
            return platform::serial_rules::FileErrorFromErrno(result.error);
        }
        rest = bytes.subspan(result.written);
    }
    if (rest.empty()) {
        return ERROR_SUCCESS;
    }
    if (const std::size_t dropped = pending_.Append(rest); dropped != 0) {
        // The consumer is so far behind that the oldest bytes go; those in the
        // pty are older still than anything kept here.
        const PseudoTerminal::Flushed flushed = pty_.DiscardPending();
        if (flushed.error != 0) {
            host_.Debug("cannot drop old data for new", flushed.error);
        }
        bytesDropped_ += dropped + flushed.bytes;
    }
    watcher_.WatchForRoom(true);
    return ERROR_SUCCESS;
}

// Moves what waits into the pty as far as there is room.
void VirtualPort::WritePendingLocked()
{
    if (pending_.empty()) {
        watcher_.WatchForRoom(false);
        return;
    }
    const PseudoTerminal::WriteResult result = pty_.WriteSome(pending_.Front());
    if (result.error != 0) {
        host_.Debug("cannot write to the pseudo-terminal", result.error);
        return;
    }
    pending_.Consume(result.written);
    if (pending_.empty()) {
        watcher_.WatchForRoom(false);
    }
}

void VirtualPort::DiscardWhatWaitsLocked()
{
    pending_.Clear();
    watcher_.WatchForRoom(false);
    if (!wroteSinceEmptied_) {
        return;   // nothing was written since the pty was last emptied
    }
    wroteSinceEmptied_ = false;
    if (const int error = pty_.DiscardPending().error; error != 0) {
        host_.Debug("cannot drop data that nobody reads", error);
    }
}

// On the watcher's thread. It wakes when the last consumer closes the slave
// (the master's hang-up shows once, at that moment): what that consumer left
// unread is dropped (what it wrote stays, to be taken as before), and the
// line gets a fresh port's settings, whatever the consumer left (gpsd and
// gpsbabel leave VMIN 0, with which the next `cat` would return at once with
// nothing).
//
// What this guarantees: a program that opens the port once the watcher has
// seen the close finds a fresh port; and the reset is made only when, a
// moment before, nobody had the port open, so a program that has the port
// open keeps the settings it made. What it cannot (the kernel offers no lock
// between a program's open and this look): a program that opens the port
// before the watcher has woken (usually well under a millisecond after the
// close) finds what the previous one left; and one that opens the port and
// changes its settings within the few microseconds between the look and the
// reset has that change replaced by a fresh port's settings.
bool VirtualPort::OnLineActivity()
{
    const bool inputMayRemain = TakeConsumerInput();
    std::lock_guard lock(mutex_);
    if (pty_.NobodyHasSlaveOpen()) {
        DiscardWhatWaitsLocked();
        ResetToFreshLocked();
    } else {
        WritePendingLocked();
    }
    return inputMayRemain;
}

void VirtualPort::KeepRawLocked()
{
    if (const int error = pty_.KeepRaw(); error != 0) {
        host_.Debug("cannot keep the pseudo-terminal in raw mode", error);
    }
}

void VirtualPort::ResetToFreshLocked()
{
    if (const int error = pty_.ResetToFresh(); error != 0) {
        host_.Debug("cannot give the pseudo-terminal a fresh port's settings", error);
    }
}

void VirtualPort::Purge(DWORD flags)
{
    if ((flags & PURGE_RXCLEAR) != 0) {
        DropConsumerInput();
    }
    if ((flags & PURGE_TXCLEAR) != 0) {
        std::lock_guard lock(mutex_);
        pending_.Clear();
        watcher_.WatchForRoom(false);
        if (const int error = pty_.DiscardPending().error; error != 0) {
            host_.Debug("cannot drop data that waits for the consumer", error);
        }
    }
}

}  // namespace quorvel
