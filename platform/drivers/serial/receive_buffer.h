// The driver's input queue. Whatever the device holds is moved here when a
// call looks at the input; reads are served from here. Keeping the bytes on
// our side means that data which arrived before the device went away is
// still delivered (the kernel discards its own buffer at a hang-up), and that
// the event character can be seen as it arrives.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/types.h"

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
    };
    // Moves what the device on fd holds into the queue, up to its capacity,
    // without blocking. When eventChar is given, its arrival is remembered.
    PullResult Pull(int fd, std::optional<BYTE> eventChar);

    // Moves up to `count` queued bytes to `out`; returns how many.
    DWORD Take(BYTE* out, DWORD count);
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
    void ReadAvailable(int fd, std::optional<BYTE> eventChar, PullResult& result);   // lock_ held

    mutable std::mutex lock_;
    std::deque<BYTE> bytes_;
    std::size_t capacity_ = defaultCapacity;
    bool eventCharSeen_ = false;
    bool removed_ = false;
};

}  // namespace platform::serial
