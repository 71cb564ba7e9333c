// Line settings through the driver's I/O controls, checked on the line itself
// (a pty's master sees the slave's settings), and the open and init errors.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "drivers/serial/line_settings.h"
#include "line_probe.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "serial_driver_fixture.h"
#include "support/refused_dcbs.h"

namespace tavrel::testing {
namespace {

termios SettingsOf(int fd)
{
    termios settings{};
    EXPECT_EQ(::tcgetattr(fd, &settings), 0);
    return settings;
}

bool SameDcb(const DCB& left, const DCB& right)
{
    return std::memcmp(&left, &right, sizeof(DCB)) == 0;
}

TEST_F(SerialDriverInstance, OpenMakesTheLineRawKeepsItsSpeedAndReportsIt)
{
    termios cooked = SettingsOf(pty_.master());
    cooked.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    cooked.c_iflag |= ICRNL | IXON | ISTRIP;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_cflag |= CRTSCTS | CSTOPB;
    cfsetspeed(&cooked, B4800);
    ASSERT_EQ(::tcsetattr(pty_.master(), TCSANOW, &cooked), 0);
    ASSERT_NO_FATAL_FAILURE(OpenPort());

    const termios raw = SettingsOf(pty_.master());
    EXPECT_EQ(raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | INLCR | IGNCR), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(raw.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(raw.c_cc[VMIN], 0);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    EXPECT_EQ(LineSpeedOf(pty_.master()), 4800u);

    const DCB dcb = GetDcb();
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);   // CSTOPB was kept
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);

    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, sizeof timeouts), TRUE);
    EXPECT_EQ(timeouts.ReadIntervalTimeout + timeouts.ReadTotalTimeoutMultiplier + timeouts.ReadTotalTimeoutConstant +
                  timeouts.WriteTotalTimeoutMultiplier + timeouts.WriteTotalTimeoutConstant,
              0u);
}

TEST_F(SerialDriverInstance, ALineWithoutSpeedStartsAt9600)
{
    termios settings = SettingsOf(pty_.master());
    cfsetspeed(&settings, B0);
    ASSERT_EQ(::tcsetattr(pty_.master(), TCSANOW, &settings), 0);
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    EXPECT_EQ(GetDcb().BaudRate, 9600u);
    EXPECT_EQ(LineSpeedOf(pty_.master()), 9600u);
}

TEST_F(SerialDriver, EveryCommonRateIsSetOnTheLineAndReadBack)
{
    const DWORD rates[] = {CBR_110,   CBR_300,   CBR_600,    CBR_1200,   CBR_2400,
                           CBR_4800,  CBR_9600,  CBR_14400,  CBR_19200,  CBR_38400,
                           CBR_56000, CBR_57600, CBR_115200, CBR_128000, CBR_256000};
    for (const DWORD rate : rates) {
        DCB dcb = GetDcb();
        dcb.BaudRate = rate;
        ASSERT_EQ(SetDcb(dcb), TRUE) << rate << " failed with " << GetLastError();
        EXPECT_EQ(GetDcb().BaudRate, rate);
        EXPECT_EQ(LineSpeedOf(pty_.master()), rate);
    }
    // A standard rate after a BOTHER one is a B-constant again, as cfgetospeed understands it.
    DCB dcb = GetDcb();
    dcb.BaudRate = CBR_19200;
    ASSERT_EQ(SetDcb(dcb), TRUE);
    const termios line = SettingsOf(pty_.master());
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
}

TEST_F(SerialDriver, ANonStandardRateSurvivesLaterFramingChanges)
{
    DCB dcb = GetDcb();
    dcb.BaudRate = 31250;   // MIDI
    ASSERT_EQ(SetDcb(dcb), TRUE);
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_EQ(SetDcb(dcb), TRUE);
    EXPECT_EQ(LineSpeedOf(pty_.master()), 31250u);
    EXPECT_NE(SettingsOf(pty_.master()).c_cflag & CSTOPB, 0u);
}

struct Framing {
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
    bool checkParity;
    tcflag_t cflag;   // CSIZE, PARENB, PARODD, CMSPAR, CSTOPB expected
};

constexpr Framing framings[] = {
    {8, NOPARITY, ONESTOPBIT, false, CS8},
    {7, EVENPARITY, ONESTOPBIT, true, CS7 | PARENB},
    {7, ODDPARITY, TWOSTOPBITS, true, CS7 | PARENB | PARODD | CSTOPB},
    {8, MARKPARITY, ONESTOPBIT, false, CS8 | PARENB | CMSPAR | PARODD},
    {8, SPACEPARITY, TWOSTOPBITS, false, CS8 | PARENB | CMSPAR | CSTOPB},
    {6, NOPARITY, TWOSTOPBITS, false, CS6 | CSTOPB},
    {5, NOPARITY, ONE5STOPBITS, false, CS5 | CSTOPB},
};

// A pty keeps every framing flag but CSIZE and PARENB (it forces CS8 without
// parity), so those two are checked on the termios the driver builds.
TEST_F(SerialDriver, DataBitsParityAndStopBitsCodesMapToTheLine)
{
    constexpr tcflag_t seenOnPty = PARODD | CMSPAR | CSTOPB;
    for (const Framing& framing : framings) {
        DCB dcb = GetDcb();
        dcb.ByteSize = framing.byteSize;
        dcb.Parity = framing.parity;
        dcb.StopBits = framing.stopBits;
        dcb.fParity = framing.checkParity;
        ASSERT_EQ(SetDcb(dcb), TRUE) << int{framing.byteSize} << "/" << int{framing.parity} << "/"
                                     << int{framing.stopBits} << " failed with " << GetLastError();
        EXPECT_TRUE(SameDcb(GetDcb(), dcb));
        const termios line = SettingsOf(pty_.master());
        EXPECT_EQ(line.c_cflag & seenOnPty, framing.cflag & seenOnPty) << int{framing.byteSize};
        EXPECT_EQ((line.c_iflag & INPCK) != 0, framing.checkParity);

        termios built{};
        platform::serial::ApplyDcb(dcb, built);
        EXPECT_EQ(built.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), framing.cflag);
    }
}

TEST_F(SerialDriver, InvalidSettingsAreRefusedAndChangeNothing)
{
    DCB valid = GetDcb();
    valid.BaudRate = CBR_57600;
    ASSERT_EQ(SetDcb(valid), TRUE);
    const DCB before = GetDcb();
    for (const DcbBreakage& breakage : refusedDcbChanges) {
        DCB broken = before;
        broken.BaudRate = CBR_9600;   // would change the line if it got through
        breakage.apply(broken);
        SetLastError(0);
        EXPECT_EQ(SetDcb(broken), FALSE) << breakage.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << breakage.what;
        EXPECT_TRUE(SameDcb(GetDcb(), before)) << breakage.what;
        EXPECT_EQ(LineSpeedOf(pty_.master()), 57600u) << breakage.what;
    }
}

TEST_F(SerialDriver, FlowControlReachesTheLineAndUnmappedFieldsAreKept)
{
    DCB dcb = GetDcb();
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.XonChar = 0x21;
    dcb.XoffChar = 0x23;
    ASSERT_EQ(SetDcb(dcb), TRUE);
    termios line = SettingsOf(pty_.master());
    EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(line.c_cc[VSTART], 0x21);
    EXPECT_EQ(line.c_cc[VSTOP], 0x23);

    // The hardware flow control of the serial class: DTR and RTS handshake
    // (RTS handshake is CRTSCTS; DTR handshake and DSR flow have no equivalent).
    dcb = GetDcb();
    dcb.fOutxCtsFlow = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fNull = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 100;
    dcb.XoffLim = 200;
    dcb.EvtChar = '\n';
    dcb.ErrorChar = '?';
    ASSERT_EQ(SetDcb(dcb), TRUE);
    EXPECT_TRUE(SameDcb(GetDcb(), dcb));
    line = SettingsOf(pty_.master());
    EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);

    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    ASSERT_EQ(SetDcb(dcb), TRUE);
    EXPECT_EQ(SettingsOf(pty_.master()).c_cflag & CRTSCTS, 0u);
    EXPECT_TRUE(SameDcb(GetDcb(), dcb));
}

TEST_F(SerialDriver, TimeoutsAndMasksAreKept)
{
    const COMMTIMEOUTS set{MAXDWORD, 0, 0, 10, 500};
    ASSERT_EQ(ControlIn(IOCTL_SERIAL_SET_TIMEOUTS, set), TRUE);
    COMMTIMEOUTS got{};
    DWORD actual = 0;
    ASSERT_EQ(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &got, sizeof got, &actual), TRUE);
    EXPECT_EQ(std::memcmp(&got, &set, sizeof set), 0);
    EXPECT_EQ(actual, sizeof(COMMTIMEOUTS));

    const COMMTIMEOUTS refused{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_EQ(ControlIn(IOCTL_SERIAL_SET_TIMEOUTS, refused), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &got, sizeof got), TRUE);
    EXPECT_EQ(std::memcmp(&got, &set, sizeof set), 0);

    DWORD mask = 0;
    EXPECT_EQ(SetWaitMask(EV_RXCHAR | EV_RXFLAG), TRUE);
    ASSERT_EQ(Control(IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, &mask, sizeof mask), TRUE);
    EXPECT_EQ(mask, EV_RXCHAR | EV_RXFLAG);
    EXPECT_EQ(SetWaitMask(0x8000), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(Control(IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, &mask, sizeof mask), TRUE);
    EXPECT_EQ(mask, EV_RXCHAR | EV_RXFLAG);
}

TEST_F(SerialDriver, ControlBuffersOfTheWrongSizeAndUnknownCodesFail)
{
    DCB dcb{};
    DWORD value = 0;
    const DWORD oneQueue = 4096;
    const auto refused = [&](BOOL result) {
        const DWORD error = GetLastError();
        SetLastError(0);
        return result == FALSE && error == ERROR_INVALID_PARAMETER;
    };
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_GET_DCB, nullptr, 0, &dcb, sizeof dcb - 1)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_GET_DCB, nullptr, 0, nullptr, sizeof dcb)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_SET_DCB, &dcb, sizeof dcb - 1, nullptr, 0)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_SET_DCB, nullptr, sizeof dcb, nullptr, 0)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_SET_WAIT_MASK, &value, 2, nullptr, 0)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, &value, 2)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &value, sizeof value)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_SET_QUEUE_SIZE, &oneQueue, sizeof oneQueue, nullptr, 0)));
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_PURGE, nullptr, 0, nullptr, 0)));
    // A wait with no room for its result fails at once instead of waiting.
    ASSERT_EQ(SetWaitMask(EV_RXCHAR), TRUE);
    EXPECT_TRUE(refused(Control(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &value, 3)));

    EXPECT_EQ(Control(SerialControl(99), nullptr, 0, nullptr, 0), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
}

TEST_F(SerialDriverInstance, InitNeedsAHostDeviceButDoesNotOpenIt)
{
    const WCHAR otherKey[] = u"Drivers\\BuiltIn\\Serial2";
    SetLastError(0);
    EXPECT_EQ(driver_.Init(otherKey, host_.host()), 0u);   // a key without values
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    host_.SetValue(u"HostDevice", REG_DWORD, {1, 0, 0, 0});
    SetLastError(0);
    EXPECT_EQ(driver_.Init(host_.registryPath(), host_.host()), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    host_.SetString(u"HostDevice", u"");
    EXPECT_EQ(driver_.Init(host_.registryPath(), host_.host()), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // A device that is not there yet (an adapter plugged in later) is fine until Open.
    host_.SetString(u"HostDevice", platform::ToUtf16((nodes_.path() / "ttyUSB7").string()));
    const DRIVER_CONTEXT later = driver_.Init(host_.registryPath(), host_.host());
    ASSERT_NE(later, 0u);
    SetLastError(0);
    EXPECT_EQ(driver_.Open(later, GENERIC_READ | GENERIC_WRITE, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(driver_.Deinit(later), TRUE);
    EXPECT_EQ(driver_.Deinit(later), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Opens the path through a new instance; returns Open's last error (0 on success).
DWORD OpenErrorFor(const STREAM_DRIVER_ENTRIES& driver, FakeDeviceHost& host, const std::string& path)
{
    host.SetString(u"HostDevice", platform::ToUtf16(path));
    const DRIVER_CONTEXT device = driver.Init(host.registryPath(), host.host());
    if (device == 0) {
        return GetLastError();
    }
    SetLastError(0);
    const DRIVER_CONTEXT open = driver.Open(device, GENERIC_READ | GENERIC_WRITE, 0);
    const DWORD error = open == 0 ? GetLastError() : ERROR_SUCCESS;
    if (open != 0) {
        driver.Close(open);
    }
    driver.Deinit(device);
    return error;
}

TEST_F(SerialDriverInstance, OpenRefusesWhatIsNotATty)
{
    const auto file = nodes_.path() / "plain-file";
    std::ofstream(file) << "not a device";
    EXPECT_EQ(OpenErrorFor(driver_, host_, file.string()), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(OpenErrorFor(driver_, host_, nodes_.path().string()), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(OpenErrorFor(driver_, host_, "/dev/null"), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(OpenErrorFor(driver_, host_, (nodes_.path() / "missing").string()), ERROR_FILE_NOT_FOUND);
    // A tty that cannot be opened because nothing is behind it (a locked pty
    // slave answers EIO, as an absent UART does).
    const int lockedMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(lockedMaster, 0);
    ASSERT_EQ(::grantpt(lockedMaster), 0);
    EXPECT_EQ(OpenErrorFor(driver_, host_, ::ptsname(lockedMaster)), ERROR_FILE_NOT_FOUND);
    ::close(lockedMaster);
    EXPECT_EQ(OpenErrorFor(driver_, host_, pty_.slavePath()), ERROR_SUCCESS);
}

}  // namespace
}  // namespace tavrel::testing
