// What programs write to a virtual port, kept for the port's data open to
// read. The data open asks for it by setting an input queue (SetupComm);
// without one nothing is kept, and the line watcher drops what programs write.
//
// The line watcher fills it and the data open's reader empties it, each on a
// thread of its own. At its limit the watcher stops taking from the pty, whose
// buffer then fills and holds the writing program back, as flow control holds
// back a device on a serial line; a read that makes room lets the watcher go
// on. What is kept is dropped only by a purge or when the data open closes.
//
// A descriptor (an eventfd) is kept readable exactly while bytes are kept, so
// that a receive watch can poll it.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <span>

#include "platform/host/wake_signal.h"
#include "platform/types.h"

namespace quorvel {

class ConsumerInput {
public:
    // The most that is kept, whatever input queue is asked for: several
    // seconds of the fastest serial line.
    static constexpr std::size_t kLargestLimit = 64 * 1024;

    // Throws std::system_error when the host has no descriptor for the signal.
    ConsumerInput();
    ConsumerInput(const ConsumerInput&) = delete;
    ConsumerInput& operator=(const ConsumerInput&) = delete;

    // SetupComm's input queue size: from now on at most that many bytes
    // (within kLargestLimit) are kept; 0 keeps none. What is kept stays.
    // True when the watcher waited for room and may go on.
    bool SetLimit(DWORD requested);

    struct Room {
        bool keeping = false;    // false: what programs write is dropped
        std::size_t bytes = 0;   // how many bytes may be taken now
    };
    // On the watcher's thread, before it takes from the pty. When there is
    // no room, the watcher is noted as waiting for it.
    Room RoomForIntake();
    // Appends what the watcher took, after what is kept.
    void Keep(std::span<const unsigned char> bytes);

    struct Taken {
        DWORD bytes = 0;              // moved to the reader's buffer
        bool intakeMayGoOn = false;   // the watcher waited for room, and there is some now
    };
    // Moves up to out.size() kept bytes to `out`, oldest first, without waiting.
    Taken Take(std::span<unsigned char> out);
    // PURGE_RXCLEAR: drops what is kept. True when the watcher may go on.
    bool Clear();
    // The data open closed: drops what is kept, and keeps nothing until an
    // input queue is set again. True when the watcher may go on.
    bool Reset();

    std::size_t size() const;
    // A new descriptor, which the caller owns, that polls readable exactly
    // while bytes are kept; -1 (errno tells why) when the host has none.
    int CreateWatch() const;

private:
    std::size_t RoomLocked() const;
    bool IntakeMayGoOnLocked();
    // Keeps ready_ readable exactly while bytes_ is not empty.
    void UpdateSignalLocked();

    const platform::host::WakeSignal ready_;
    mutable std::mutex mutex_;   // guards what follows
    std::deque<unsigned char> bytes_;
    std::size_t limit_ = 0;
    bool intakeWaits_ = false;   // the watcher found no room and stopped taking
    bool signalled_ = false;     // ready_ is readable
};

}  // namespace quorvel
