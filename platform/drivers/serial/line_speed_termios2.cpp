// termios2 access to the line speed (see line_speed.h). Only kernel headers
// here: glibc's termios.h declares a different struct termios.
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

#include "drivers/serial/line_speed.h"
#include "platform/host/interrupted_calls.h"

namespace platform::serial {
namespace {

struct StandardRate {
    std::uint32_t baud;
    tcflag_t code;
};

constexpr StandardRate standardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// A standard rate keeps its B-constant so that programs reading the speed
// with cfgetospeed() still understand it; any other rate is BOTHER.
tcflag_t SpeedCode(std::uint32_t baud)
{
    for (const StandardRate& rate : standardRates) {
        if (rate.baud == baud) {
            return rate.code;
        }
    }
    return BOTHER;
}

int ReadSettings(int fd, termios2& settings)
{
    return host::RetryOnInterrupt([&] { return ::ioctl(fd, TCGETS2, &settings); }) == 0 ? 0 : errno;
}

}  // namespace

int SetLineSpeed(int fd, std::uint32_t baud)
{
    termios2 settings{};
    if (const int error = ReadSettings(fd, settings); error != 0) {
        return error;
    }
    // CIBAUD cleared: the input speed follows the output speed.
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    settings.c_cflag |= SpeedCode(baud);
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    return host::RetryOnInterrupt([&] { return ::ioctl(fd, TCSETS2, &settings); }) == 0 ? 0 : errno;
}

LineSpeed GetLineSpeed(int fd)
{
    termios2 settings{};
    if (const int error = ReadSettings(fd, settings); error != 0) {
        return LineSpeed{0, error};
    }
    return LineSpeed{settings.c_ospeed, 0};
}

}  // namespace platform::serial
