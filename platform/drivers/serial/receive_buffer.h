// The driver's input queue. A wait for comm events moves whatever the device
// holds into it; reads take from it first and then straight from the device,
// so that a read of what just arrived is one host call, and a read that
// leaves bytes behind on the device moves them here. Keeping the bytes on
// our side means that data which arrived before the device went away is still
// delivered (the kernel discards its own buffer at a hang-up), and that the
// event character can be seen as it arrives. A receive watch descriptor
// (an eventfd) can be kept readable exactly while the queue holds bytes.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/host/wake_signal.h"
#include "platform/serial_rules/host_errors.h"

namespace platform::serial {

class ReceiveBuffer {
public:
    static constexpr std::size_t defaultCapacity = 64 * 1024;
    static constexpr std::size_t largestCapacity = 1024 * 1024;

    ReceiveBuffer() = default;
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    struct PullResult {
        bool removed = false;   // the device went away (hang-up, unplugged, far end closed)
        int error = 0;          // errno of a read that failed otherwise

        bool failed() const { return removed || error != 0; }
        // What a call that found the input failed reports.
        DWORD Failure() const { return removed ? ERROR_DEVICE_REMOVED : serial_rules::IoErrorFromErrno(error); }
    };
    // Moves what the device on fd holds into the queue, up to its capacity,
    // without blocking. When eventChar is given, its arrival is remembered.
    PullResult Pull(int fd, std::optional<BYTE> eventChar);

    struct ReadResult : PullResult {
        DWORD bytes = 0;
    };
    // Moves up to `count` bytes to `out` without blocking: the queued ones,
    // then, once the queue is empty, what the device on fd holds. When that
    // fills the request, the rest the device holds is queued.
    ReadResult Read(int fd, BYTE* out, DWORD count, std::optional<BYTE> eventChar);
    // Whether a read would return at once with bytes, or with the news that
    // the device went away or failed.
    bool ReadWouldReturn(int fd);
    // The descriptor that polls readable while the queue holds bytes, made on
    // first use; -1 when the host has none to give.
    int QueuedSignal();
    // Returns whether the event character arrived since the last call, and forgets it.
    bool TakeEventCharSeen();
    void ForgetEventChar();
    // PURGE_RXCLEAR: empties the queue and the device's input buffer together.
    // Returns 0 or an errno.
    int Discard(int fd);

    bool empty() const;
    bool full() const;
    // SetupComm's input queue size enlarges the queue, within limits.
    void SetRequestedSize(DWORD inQueue);

private:
    // All with lock_ held.
    void ReadAvailable(int fd, std::optional<BYTE> eventChar, PullResult& result);
    // One read() of the device into out; the bytes it moved.
    DWORD ReadDevice(int fd, BYTE* out, DWORD count, std::optional<BYTE> eventChar, PullResult& result);
    // Tells "nothing there" from a hang-up after a read() returned 0.
    void CheckForHangup(int fd, PullResult& result);
    void NoteFailedRead(int error, PullResult& result);
    void NoteArrival(const BYTE* begin, const BYTE* end, std::optional<BYTE> eventChar);
    // Keeps queuedSignal_ readable exactly while bytes_ is not empty.
    void UpdateQueuedSignal();

    mutable std::mutex lock_;
    std::deque<BYTE> bytes_;
    std::size_t capacity_ = defaultCapacity;
    bool eventCharSeen_ = false;
    bool removed_ = false;
    std::optional<host::WakeSignal> queuedSignal_;   // made when first asked for
    bool signalled_ = false;   // queuedSignal_ is readable
};

}  // namespace platform::serial
