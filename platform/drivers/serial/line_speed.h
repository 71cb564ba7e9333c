// The line speed of a tty in bits per second, read and written through the
// kernel's termios2 interface, so that any rate works: standard rates keep
// their B-constant, every other rate (14400, 56000, 128000, ...) is set with
// BOTHER. Lives apart from the rest of the driver because <asm/termbits.h>
// and <termios.h> cannot be included in the same file.
#pragma once

#include <cstdint>

namespace platform::serial {

struct LineSpeed {
    std::uint32_t baud = 0;   // output speed; the input speed always follows it
    int error = 0;            // errno of the failed call, 0 on success
};

// Sets the input and output speed of the tty on fd. Returns 0 or an errno.
int SetLineSpeed(int fd, std::uint32_t baud);
// Reads the output speed of the tty on fd, whichever way it was set.
LineSpeed GetLineSpeed(int fd);

}  // namespace platform::serial
