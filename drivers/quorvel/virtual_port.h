// One instance of the driver: a virtual serial port "COM<n>". What is written
// to it goes into a pseudo-terminal whose slave any program may open through
// the link "<node folder>/COM<n>". The pty is made when the port is activated;
// the link exists only while the port is open for data (the relay's open),
// so a port that is activated only to see whether it can be (the free
// outputs' probe) shows nothing that a program could open and lose again.
//
// It behaves like a serial line: a write never waits for the consumer. While
// nobody has the port open the bytes are sent into the void. What does not fit
// into the pty waits in the driver until the consumer makes room, so that a
// consumer that falls behind for a moment loses nothing; when it falls
// further behind than that holds, the oldest bytes are dropped and the newest
// kept.
//
// What consumers write to their end is dropped, unless the data open set an
// input queue (SetupComm): then it is kept for the data open to read (see
// ConsumerInput), and a consumer that gets that far ahead of the reader is
// held back, never dropped.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "consumer_input.h"
#include "driver_host.h"
#include "platform/streamdriver.h"
#include "line_watcher.h"
#include "port_link.h"
#include "pseudo_terminal.h"
#include "pending_bytes.h"
#include "serial_settings.h"

namespace quorvel {

class VirtualPort;

// What Open hands out; the device manager gives it back to the other calls.
struct OpenContext {
    VirtualPort& port;
    bool forData;    // opened with read or write access, not only to query
    bool readable;   // opened with read access
};

class VirtualPort {
public:
    // Creates the pty and makes sure its link could be published; throws
    // std::system_error, or PortInUse.
    explicit VirtualPort(const DEVICE_HOST& host);
    // Removes the link (if still ours) and closes the pty: consumers see a hangup.
    ~VirtualPort();
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    const DriverHost& host() const { return host_; }
    SerialSettings& settings() { return settings_; }

    // The device manager keeps a port open for data once at a time, but lets
    // query-only opens (GetCommState and the like) sit beside that one. The
    // first open for data gives the pty to the host's group and publishes the
    // link (throws std::system_error when it cannot, PortInUse when another
    // device's live port has the name); closing the last one removes the link.
    OpenContext* Open(DWORD access);
    bool Close(OpenContext* context);

    // The link's path while it is published.
    std::optional<std::string> NodePath();

    // Whether a program has the port open now, and what programs that read
    // too slowly lost since the port was activated: what the port dropped for
    // newer bytes, not what it sent while nobody listened, nor what a program
    // left unread when it closed the port, nor what PurgeComm took away.
    SERIAL_LINE_HEALTH LineHealth();

    // ClearCommError's view: in cbOutQue the bytes that wait in the driver
    // for room in the pty, so that a writer can tell how far the program on
    // the port lags; in cbInQue the bytes kept from consumers for Read. A
    // virtual port reports no line errors.
    SERIAL_DEV_STATUS CommStatus();

    // Hands the bytes to the line; ERROR_SUCCESS once they are sent (which
    // includes "dropped because nobody listens" and "pushed older bytes out").
    DWORD Write(std::span<const unsigned char> bytes);

    // PurgeComm: PURGE_TXCLEAR drops what waits for the consumer, PURGE_RXCLEAR
    // what the consumer sent. Writes are synchronous, so nothing is to abort.
    void Purge(DWORD flags);

    // SetupComm's input queue size on the data open: what consumers write is
    // kept, up to that many bytes (at most ConsumerInput::kLargestLimit), for
    // Read; 0 drops it. A fresh data open has none.
    void SetInputQueue(DWORD size);
    // ReadFile: up to out.size() bytes that consumers wrote, oldest first,
    // without waiting; 0 when none are kept.
    DWORD Read(std::span<unsigned char> out);
    // IOCTL_SERIAL_GET_RECEIVE_WATCH: a new descriptor, which the caller
    // owns, that polls readable exactly while Read would return bytes.
    // ERROR_SUCCESS or the host's error.
    DWORD CreateReceiveWatch(DWORD& descriptor);
    // IOCTL_SERIAL_GET_RECEIVE_READY: whether Read would return bytes now.
    bool ReceiveReady() const;

private:
    void PublishLocked();
    void WithdrawLocked();
    bool OnLineActivity();
    // Takes what consumers sent, to keep or to drop; true while more may wait.
    bool TakeConsumerInput();
    PseudoTerminal::Intake KeepConsumerInput(std::size_t room);
    void KeepRawIf(bool settingsChanged);
    // PURGE_RXCLEAR.
    void DropConsumerInput();
    void KeepRawLocked();
    void ResetToFreshLocked();
    void DiscardWhatWaitsLocked();
    void WritePendingLocked();

    // What may wait for the consumer beyond what the pty holds (about 18 KiB):
    // several seconds of the fastest serial line.
    static constexpr std::size_t kPendingLimit = 64 * 1024;

    DriverHost host_;
    PseudoTerminal pty_;
    ConsumerInput input_;
    // Held while taking what consumers sent off the pty (the watcher, a purge
    // of the receive side, the data open's close), before mutex_ if both.
    std::mutex intake_;
    PortLink link_;
    SerialSettings settings_;
    std::mutex mutex_;          // the pty's output side and settings, link_, and the members below
    PendingBytes pending_{kPendingLimit};
    bool wroteSinceEmptied_ = false;
    ULONGLONG bytesDropped_ = 0;
    std::vector<std::unique_ptr<OpenContext>> opens_;
    int dataOpens_ = 0;
    LineWatcher watcher_;       // last: its thread uses everything above
};

}  // namespace quorvel
