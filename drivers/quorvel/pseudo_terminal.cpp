#include "pseudo_terminal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>

#include "platform/host/interrupted_calls.h"

namespace quorvel {
namespace {

using platform::host::RetryOnInterrupt;

// What cfmakeraw clears. (IUCLC, which it leaves, rewrites bytes only
// together with IEXTEN, which it clears.)
constexpr tcflag_t kRewritingInput = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON;
constexpr tcflag_t kLineDiscipline = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kCharacterFraming = CSIZE | PARENB;
// Far more reads of 4 KiB than a pty holds, so that a drain always ends.
constexpr std::size_t kMostDrainReads = 64;

// EXTPROC makes every later change of the slave's settings show on the
// master in packet mode. It also keeps the slave's input raw should a
// consumer turn line editing on without clearing it.
bool IsRaw(const termios& settings)
{
    return (settings.c_iflag & kRewritingInput) == 0 && (settings.c_oflag & OPOST) == 0 &&
           (settings.c_lflag & (kLineDiscipline | EXTPROC)) == EXTPROC &&
           (settings.c_cflag & kCharacterFraming) == CS8;
}

[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// Set through the master, the slave's settings survive consumers opening and
// closing it.
int SetRaw(int master)
{
    termios settings{};
    if (::tcgetattr(master, &settings) != 0) {
        return errno;
    }
    if (IsRaw(settings)) {
        return 0;
    }
    // How the consumer's reads wait (VMIN, VTIME) is its own business.
    const cc_t minimum = settings.c_cc[VMIN];
    const cc_t time = settings.c_cc[VTIME];
    ::cfmakeraw(&settings);
    settings.c_lflag |= EXTPROC;
    settings.c_cc[VMIN] = minimum;
    settings.c_cc[VTIME] = time;
    return ::tcsetattr(master, TCSANOW, &settings) == 0 ? 0 : errno;
}

// A port that nobody has used yet: raw (8 data bits, no parity, one stop
// bit, no echo), reads that wait for a byte (VMIN 1, VTIME 0), EXTPROC; the
// rest (the rate among it) as the kernel makes a pty.
termios FreshSettings(termios settings)
{
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    settings.c_lflag |= EXTPROC;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return settings;
}

bool SameSettings(const termios& left, const termios& right)
{
    return left.c_iflag == right.c_iflag && left.c_oflag == right.c_oflag && left.c_cflag == right.c_cflag &&
           left.c_lflag == right.c_lflag &&
           std::equal(std::begin(left.c_cc), std::end(left.c_cc), std::begin(right.c_cc)) &&
           ::cfgetispeed(&left) == ::cfgetispeed(&right) && ::cfgetospeed(&left) == ::cfgetospeed(&right);
}

}  // namespace

PseudoTerminal::PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
{
    if (!master_.valid() || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) {
        ThrowErrno("cannot create a pseudo-terminal");
    }
    char name[128];
    if (const int error = ::ptsname_r(master_.get(), name, sizeof name); error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot name the pseudo-terminal");
    }
    slavePath_ = name;
    if (::fcntl(master_.get(), F_SETFL, O_NONBLOCK) != 0) {
        ThrowErrno("cannot make the pseudo-terminal non-blocking");
    }
    const int packetMode = 1;
    if (::ioctl(master_.get(), TIOCPKT, &packetMode) != 0) {
        ThrowErrno("cannot put the pseudo-terminal in packet mode");
    }
    termios made{};
    if (::tcgetattr(master_.get(), &made) != 0) {
        ThrowErrno("cannot read the pseudo-terminal's settings");
    }
    fresh_ = FreshSettings(made);
    if (const int error = ResetToFresh(); error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot put the pseudo-terminal in raw mode");
    }
    // Until its slave has been opened once, a master never reports a hangup,
    // and the bytes written before the first consumer would wait for it. Open
    // and close it now, so that from here on "nobody has it open" shows.
    if (!OpenSlave().valid()) {
        ThrowErrno("cannot open the pseudo-terminal's slave");
    }
}

platform::host::UniqueFd PseudoTerminal::OpenSlave() const
{
    return platform::host::UniqueFd(::ioctl(master_.get(), TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

PseudoTerminal::LineState PseudoTerminal::Look() const
{
    // The master reports a hangup for as long as nobody has the slave open.
    pollfd state{master_.get(), POLLPRI, 0};
    if (::poll(&state, 1, 0) <= 0) {
        return LineState{true, false};
    }
    return LineState{(state.revents & POLLHUP) == 0, (state.revents & POLLPRI) != 0};
}

int PseudoTerminal::KeepRaw() const
{
    return SetRaw(master_.get());
}

int PseudoTerminal::ResetToFresh() const
{
    termios now{};
    if (::tcgetattr(master_.get(), &now) != 0) {
        return errno;
    }
    // Each change shows on the master as news of a change; none when nothing changes.
    if (SameSettings(now, fresh_)) {
        return 0;
    }
    return ::tcsetattr(master_.get(), TCSANOW, &fresh_) == 0 ? 0 : errno;
}

int PseudoTerminal::ShareWithGroup(gid_t group) const
{
    // The slave's node lives in devpts, which no user can replace; its owner
    // stays the user who made the pty.
    if (::chown(slavePath_.c_str(), static_cast<uid_t>(-1), group) != 0) {
        return errno;
    }
    return ::chmod(slavePath_.c_str(), 0660) == 0 ? 0 : errno;
}

PseudoTerminal::WriteResult PseudoTerminal::WriteSome(std::span<const unsigned char> bytes) const
{
    WriteResult result;
    while (result.written < bytes.size()) {
        const ssize_t n = RetryOnInterrupt(
            [&] { return ::write(master_.get(), bytes.data() + result.written, bytes.size() - result.written); });
        if (n > 0) {
            result.written += static_cast<std::size_t>(n);
        } else {
            result.error = (n < 0 && errno != EAGAIN) ? errno : 0;
            break;
        }
    }
    return result;
}

PseudoTerminal::Flushed PseudoTerminal::DiscardPending() const
{
    // Flushing the master's output would free only the bytes on their way to
    // the slave; flushing the slave's input frees those and its line buffer.
    const platform::host::UniqueFd slave = OpenSlave();
    if (!slave.valid()) {
        return Flushed{0, errno};
    }
    // Read rather than only flushed, to count them: a read that finds the line
    // buffer empty first waits for the bytes on their way to it, so reading
    // until nothing is left takes all of them (FIONREAD would see only the
    // line buffer's 4 KiB of the pty's 16 to 20). The flush after it takes
    // whatever a read could not (a line that a consumer's canonical mode
    // holds back).
    Flushed flushed;
    unsigned char buffer[4096];
    for (std::size_t i = 0; i < kMostDrainReads; ++i) {
        const ssize_t n = RetryOnInterrupt([&] { return ::read(slave.get(), buffer, sizeof buffer); });
        if (n <= 0) {
            break;
        }
        flushed.bytes += static_cast<std::size_t>(n);
    }
    if (::tcflush(slave.get(), TCIFLUSH) != 0) {
        flushed.error = errno;
    }
    return flushed;
}

PseudoTerminal::Received PseudoTerminal::ReadConsumerInput(std::span<unsigned char> into) const
{
    // Packet mode: each read starts with a status byte, TIOCPKT_DATA (0)
    // before consumer input; any other status comes alone.
    unsigned char packet[kLargestRead + 1];
    const std::size_t wanted = std::min(into.size(), kLargestRead) + 1;
    const ssize_t n = RetryOnInterrupt([&] { return ::read(master_.get(), packet, wanted); });
    Received received;
    if (n <= 0) {
        // EAGAIN: nothing left; EIO or 0: nobody has the slave open, and
        // nothing that the last one wrote is left either.
        received.drained = true;
    } else if (packet[0] != TIOCPKT_DATA) {
        received.settingsChanged = (packet[0] & TIOCPKT_IOCTL) != 0;
    } else {
        received.bytes = static_cast<std::size_t>(n - 1);
        std::copy_n(packet + 1, received.bytes, into.begin());
    }
    return received;
}

PseudoTerminal::Intake PseudoTerminal::DiscardConsumerInput() const
{
    constexpr int kReadsPerCall = 16;
    unsigned char buffer[kLargestRead];
    Intake discarded;
    for (int i = 0; i < kReadsPerCall; ++i) {
        const Received received = ReadConsumerInput(buffer);
        discarded.settingsChanged = discarded.settingsChanged || received.settingsChanged;
        if (received.drained) {
            return discarded;
        }
    }
    discarded.mayRemain = true;
    return discarded;
}

}  // namespace quorvel
