// Reads a tty's settings the test's own way, to check what the driver put on
// the line. For a pty the master sees the slave's settings.
#pragma once

#include <cstdint>

namespace tavrel::testing {

// The output speed through termios2, so that BOTHER rates read back too;
// 0 when it cannot be read.
std::uint32_t LineSpeedOf(int fd);

}  // namespace tavrel::testing
