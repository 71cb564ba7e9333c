// The far end of the input port, played as a serial device plays it: it
// writes what the relay is to read and, when the line is full because the
// relay does not read, waits until it can go on or until a deadline.
#pragma once

#include <span>
#include <sys/types.h>

#include "bench/clock.h"
#include "testkit/pty_pair.h"

namespace tavrel::bench {

// One write of at most `size` bytes to a descriptor that does not block: the bytes taken, or -1.
using WriteSome = ssize_t (*)(int fd, const unsigned char* bytes, std::size_t size);
ssize_t PlainWrite(int fd, const unsigned char* bytes, std::size_t size);

// Writes `bytes` to a descriptor that does not block, with `write` each time
// it has room, until all are written or `deadline` has passed; returns how
// many were written.
std::size_t WriteWithin(int fd, std::span<const unsigned char> bytes, Clock::time_point deadline,
                        WriteSome write = PlainWrite);

class InputLine {
public:
    // A fresh raw pseudo-terminal whose master this line writes to.
    InputLine();

    // The tty that the relay opens as its input.
    const std::string& tty() const { return pty_.slavePath(); }
    // Writes `bytes` in one write each time the line has room, until all are
    // written or `deadline` has passed; returns how many were written.
    std::size_t Write(std::span<const unsigned char> bytes, Clock::time_point deadline) const;
    // Writes what fits now, without waiting.
    std::size_t WriteNow(std::span<const unsigned char> bytes) const;
    // The device's end, to poll and read what the relay writes to its input.
    int deviceEnd() const { return pty_.master(); }

private:
    testing::PtyPair pty_;
};

}  // namespace tavrel::bench
