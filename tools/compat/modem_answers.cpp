#include "modem_answers.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <linux/serial.h>
#include <linux/tty_flags.h>
#include <poll.h>
#include <sys/ioctl.h>

#include "line_table.h"
#include "port_recognition.h"

namespace tavrel::compat {
namespace {

// The lines that Tavrel's end raises: they follow the port's life.
constexpr unsigned kFarEndLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;

Answer Done()
{
    return {true, 0, 0};
}

Answer Failed(int error)
{
    return {true, -1, error};
}

bool IsModemRequest(unsigned long request)
{
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
    case TIOCGICOUNT:
    case TIOCGSERIAL:
        return true;
    default:
        return false;
    }
}

// Once Tavrel closes its end, the kernel hangs the slave up.
bool HungUp(int fd)
{
    pollfd look{fd, 0, 0};
    return ::poll(&look, 1, 0) > 0 && (look.revents & POLLHUP) != 0;
}

// The descriptor's slot once it is known to be a Tavrel port (`*slot` may
// stay null when the table is full); false for anything else.
bool LookUp(int fd, PortIdentity* identity, LineSlot** slot)
{
    if (!PseudoTerminalSlave(fd, identity)) {
        return false;
    }
    *slot = FindLines(fd, *identity);
    if (*slot != nullptr) {
        return true;
    }
    if (!LinkedFromPortFolder(*identity)) {
        return false;
    }
    *slot = AddLines(fd, *identity);
    return true;
}

Answer GetLines(int fd, const LineSlot* slot, void* argument)
{
    if (argument == nullptr) {
        return Failed(EFAULT);
    }
    const unsigned lines = DrivenLines(slot) | (HungUp(fd) ? 0 : kFarEndLines);
    *static_cast<int*>(argument) = static_cast<int>(lines);
    return Done();
}

Answer SetLines(LineSlot* slot, unsigned long request, const void* argument)
{
    if (argument == nullptr) {
        return Failed(EFAULT);
    }
    const auto lines = static_cast<unsigned>(*static_cast<const int*>(argument));
    if (request == TIOCMSET) {
        DriveLines(slot, lines, ~lines);
    } else if (request == TIOCMBIS) {
        DriveLines(slot, lines, 0);
    } else {
        DriveLines(slot, 0, lines);
    }
    return Done();
}

// Sleeps in poll() until the slave is hung up, or a signal interrupts the
// wait (EINTR, as the kernel's own wait is interrupted). A mask without a
// line that can change waits for a signal only.
Answer WaitForChange(int fd, unsigned long mask)
{
    if ((mask & kFarEndLines) == 0) {
        ::poll(nullptr, 0, -1);
        return Failed(errno);
    }
    if (HungUp(fd)) {
        return Failed(EIO);   // nothing can change any more
    }
    pollfd wait{fd, 0, 0};
    if (::poll(&wait, 1, -1) < 0) {
        return Failed(errno);
    }
    return (wait.revents & POLLNVAL) != 0 ? Failed(EBADF) : Done();
}

Answer ZeroCounts(void* argument)
{
    if (argument == nullptr) {
        return Failed(EFAULT);
    }
    std::memset(argument, 0, sizeof(serial_icounter_struct));
    return Done();
}

// An ordinary 16550A at 115200 baud base with standard speeds (no
// ASYNC_SPD_CUST, which makes programs reset it with TIOCSSERIAL).
Answer DescribeUart(const PortIdentity& identity, void* argument)
{
    if (argument == nullptr) {
        return Failed(EFAULT);
    }
    serial_struct uart;
    std::memset(&uart, 0, sizeof uart);
    uart.type = PORT_16550A;
    uart.line = PtyNumber(identity);
    uart.flags = ASYNC_SKIP_TEST;
    uart.xmit_fifo_size = 16;
    uart.baud_base = 115200;
    uart.close_delay = 50;      // hundredths of a second, Linux's default
    uart.closing_wait = 3000;   // likewise
    std::memcpy(argument, &uart, sizeof uart);
    return Done();
}

}  // namespace

Answer AnswerModemRequest(int fd, unsigned long request, void* argument)
{
    PortIdentity identity;
    LineSlot* slot = nullptr;
    if (!IsModemRequest(request) || !LookUp(fd, &identity, &slot)) {
        return {};
    }
    switch (request) {
    case TIOCMGET:
        return GetLines(fd, slot, argument);
    case TIOCMIWAIT:
        return WaitForChange(fd, reinterpret_cast<std::uintptr_t>(argument));
    case TIOCGICOUNT:
        return ZeroCounts(argument);
    case TIOCGSERIAL:
        return DescribeUart(identity, argument);
    default:
        return SetLines(slot, request, argument);
    }
}

}  // namespace tavrel::compat
