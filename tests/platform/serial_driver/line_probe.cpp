// Kernel headers only: <termios.h> declares another struct termios.
#include "line_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tavrel::testing {

std::uint32_t LineSpeedOf(int fd)
{
    termios2 settings{};
    return ::ioctl(fd, TCGETS2, &settings) == 0 ? settings.c_ospeed : 0;
}

}  // namespace tavrel::testing
