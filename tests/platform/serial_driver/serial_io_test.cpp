// Reads, writes, comm events and purges through the driver, with the test
// playing the device on the pty master.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>

#include "platform/host/unique_fd.h"
#include "platform/kernel.h"
#include "serial_driver_fixture.h"

namespace tavrel::testing {
namespace {

std::vector<unsigned char> Bytes(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

// Writes to the master without blocking for longer than `limit`; false if
// the bytes did not all get through by then.
bool WriteWithin(int master, const std::vector<unsigned char>& bytes, std::chrono::milliseconds limit)
{
    const int flags = ::fcntl(master, F_GETFL);
    ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t done = 0;
    while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
        pollfd room{master, POLLOUT, 0};
        ::poll(&room, 1, 20);
        const ssize_t sent = ::write(master, bytes.data() + done, bytes.size() - done);
        done += sent > 0 ? static_cast<std::size_t>(sent) : 0;
    }
    ::fcntl(master, F_SETFL, flags);
    return done == bytes.size();
}

// Whether fd polls readable within `wait`.
bool Readable(int fd, std::chrono::milliseconds wait)
{
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, static_cast<int>(wait.count())) > 0;
}

TEST_F(SerialDriverInstance, EveryByteValuePassesUnchangedBothWaysAndNothingIsEchoed)
{
    // The line starts cooked, as a terminal: echo, CR/LF mapping, XON/XOFF, 7 bits.
    termios cooked{};
    ASSERT_EQ(::tcgetattr(pty_.master(), &cooked), 0);
    cooked.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    cooked.c_iflag |= ICRNL | INLCR | IXON | ISTRIP;
    cooked.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(::tcsetattr(pty_.master(), TCSANOW, &cooked), 0);
    ASSERT_NO_FATAL_FAILURE(OpenPort());

    SetTimeouts(0, 0, 0);   // wait for the full count
    const std::vector<unsigned char> all = AllByteValues();
    std::vector<unsigned char> twice = all;
    twice.insert(twice.end(), all.begin(), all.end());

    pty_.Write(twice);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, static_cast<DWORD>(twice.size())), twice.size());
    EXPECT_EQ(got, twice);

    EXPECT_EQ(Write(twice), twice.size());
    EXPECT_EQ(ReadFor(pty_.master(), twice.size()), twice);
    // An echo of the far end's bytes would be waiting on the master by now.
    EXPECT_TRUE(ReadFor(pty_.master(), 1, std::chrono::milliseconds(200)).empty());
}

TEST_F(SerialDriver, ImmediateReadReturnsWhatIsThereEvenNothing)
{
    SetTimeouts(MAXDWORD, 0, 0);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 100), 0u);

    pty_.Write(Bytes("$GPGGA,1"));
    EXPECT_EQ(ReadUntil(8), Bytes("$GPGGA,1"));
    EXPECT_EQ(Read(got, 100), 0u);
}

TEST_F(SerialDriver, ReadWithoutTimeoutsWaitsForTheFullCount)
{
    SetTimeouts(0, 0, 0);
    pty_.Write(Bytes("abc"));
    auto read = Start([this] {
        std::vector<unsigned char> got;
        Read(got, 10);
        return got;
    });
    ASSERT_TRUE(read->WaitUntilBlocked());
    pty_.Write(Bytes("defghij"));
    ASSERT_TRUE(read->EndsInTime());
    EXPECT_EQ(read->get(), Bytes("abcdefghij"));
}

TEST_F(SerialDriver, FirstByteReadReturnsAsSoonAsAnyCame)
{
    SetTimeouts(MAXDWORD, MAXDWORD, 50);
    std::vector<unsigned char> got;
    SetLastError(0);
    EXPECT_EQ(Read(got, 100), 0u);   // nothing within 50 ms: success with nothing
    EXPECT_EQ(GetLastError(), 0u);

    // With a first-byte wait of about 49 days, only an early return ends the read.
    SetTimeouts(MAXDWORD, MAXDWORD, MAXDWORD - 1);
    auto read = Start([this] {
        std::vector<unsigned char> bytes;
        Read(bytes, 100);
        return bytes;
    });
    ASSERT_TRUE(read->WaitUntilBlocked());
    pty_.Write(Bytes("xyz"));
    ASSERT_TRUE(read->EndsInTime());
    const std::vector<unsigned char> first = read->get();
    const std::vector<unsigned char> sent = Bytes("xyz");
    ASSERT_FALSE(first.empty());
    ASSERT_LE(first.size(), sent.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), sent.begin()));
}

TEST_F(SerialDriver, TotalAndIntervalTimeoutsReturnWhatArrived)
{
    std::vector<unsigned char> got;
    ASSERT_NO_FATAL_FAILURE(DeliverToDriver(Bytes("123")));
    SetTimeouts(0, 0, 200);
    EXPECT_EQ(Read(got, 10), 3u);
    EXPECT_EQ(got, Bytes("123"));

    SetTimeouts(0, 0, 100);
    EXPECT_EQ(Read(got, 10), 0u);   // a total time-out with nothing is a success with 0

    // Only an interval limit: the read ends 100 ms after the last byte.
    ASSERT_NO_FATAL_FAILURE(DeliverToDriver(Bytes("4567")));
    SetTimeouts(100, 0, 0);
    EXPECT_EQ(Read(got, 10), 4u);
    EXPECT_EQ(got, Bytes("4567"));
}

TEST_F(SerialDriver, AWriteThatTimesOutReportsTheShortCount)
{
    SetTimeouts(0, 0, 0, 0, 200);
    const std::vector<unsigned char> large(1 << 20, 0xA5);
    SetLastError(0);
    const DWORD written = Write(large);
    ASSERT_NE(written, DRIVER_TRANSFER_FAILED);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, large.size());
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(ReadFor(pty_.master(), written), std::vector<unsigned char>(written, 0xA5));
}

TEST_F(SerialDriver, HangupFailsReadsAfterTheDataThatCameBefore)
{
    ASSERT_NO_FATAL_FAILURE(DeliverToDriver(Bytes("last words!")));
    pty_.CloseMaster();   // the kernel discards its own input buffer here
    SetTimeouts(MAXDWORD, 0, 0);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 5), 5u);
    EXPECT_EQ(got, Bytes("last "));
    EXPECT_EQ(Read(got, 100), 6u);
    EXPECT_EQ(got, Bytes("words!"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        SetLastError(0);
        EXPECT_EQ(Read(got, 100), DRIVER_TRANSFER_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    }
    EXPECT_EQ(Write(Bytes("hello?")), DRIVER_TRANSFER_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    ASSERT_EQ(SetWaitMask(EV_RXCHAR), TRUE);
    DWORD events = 0;
    EXPECT_EQ(WaitOnMask(events), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
}

TEST_F(SerialDriver, WhatAFullReadLeftOnTheDeviceSurvivesAHangup)
{
    std::vector<unsigned char> sent(250);
    std::iota(sent.begin(), sent.end(), static_cast<unsigned char>(0));
    pty_.Write(sent);
    SetTimeouts(0, 0, 0);
    std::vector<unsigned char> got;
    ASSERT_EQ(Read(got, 100), 100u);
    pty_.CloseMaster();   // the kernel discards what it still holds
    SetTimeouts(MAXDWORD, 0, 0);
    std::vector<unsigned char> rest;
    EXPECT_EQ(Read(rest, 200), 150u);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
    EXPECT_EQ(Read(rest, 100), DRIVER_TRANSFER_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
}

TEST_F(SerialDriver, HangupEndsABlockedRead)
{
    SetTimeouts(0, 0, 0);
    auto read = Start([this] {
        std::vector<unsigned char> got;
        const DWORD result = Read(got, 10);
        return std::make_pair(result, GetLastError());
    });
    ASSERT_TRUE(read->WaitUntilBlocked());
    pty_.CloseMaster();
    ASSERT_TRUE(read->EndsInTime());
    EXPECT_EQ(read->get(), std::make_pair(DRIVER_TRANSFER_FAILED, ERROR_DEVICE_REMOVED));
}

TEST_F(SerialDriver, PreCloseWakesBlockedCallsAndRefusesLaterOnes)
{
    SetTimeouts(0, 0, 0);
    ASSERT_EQ(SetWaitMask(EV_RXFLAG), TRUE);
    const auto failure = [](DWORD result) { return std::make_pair(result, GetLastError()); };
    const auto blockedRead = [&] {
        std::vector<unsigned char> got;
        return failure(Read(got, 10));
    };
    auto read = Start(blockedRead);
    auto queuedRead = Start(blockedRead);   // waits behind the first
    auto wait = Start([&] {
        DWORD events = 0;
        return failure(static_cast<DWORD>(WaitOnMask(events)));
    });
    FillOutput();
    SetTimeouts(0, 0, 0);
    auto write = Start([&] { return failure(Write(std::vector<unsigned char>(4096, 1))); });
    // One read sleeps on the device, the other waits for its turn.
    ASSERT_TRUE(read->WaitUntilBlocked(Blocked::OnDeviceOrInTurn));
    ASSERT_TRUE(queuedRead->WaitUntilBlocked(Blocked::OnDeviceOrInTurn));
    ASSERT_TRUE(wait->WaitUntilBlocked());
    ASSERT_TRUE(write->WaitUntilBlocked());

    ASSERT_EQ(driver_.PreClose(open_), TRUE);
    ASSERT_TRUE(read->EndsInTime());
    ASSERT_TRUE(queuedRead->EndsInTime());
    ASSERT_TRUE(wait->EndsInTime());
    ASSERT_TRUE(write->EndsInTime());
    EXPECT_EQ(read->get(), std::make_pair(DRIVER_TRANSFER_FAILED, ERROR_OPERATION_ABORTED));
    EXPECT_EQ(queuedRead->get(), std::make_pair(DRIVER_TRANSFER_FAILED, ERROR_OPERATION_ABORTED));
    EXPECT_EQ(wait->get(), std::make_pair(static_cast<DWORD>(FALSE), ERROR_OPERATION_ABORTED));
    EXPECT_EQ(write->get(), std::make_pair(DRIVER_TRANSFER_FAILED, ERROR_OPERATION_ABORTED));

    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 1), DRIVER_TRANSFER_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    DCB dcb{};
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_DCB, nullptr, 0, &dcb, sizeof dcb), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
}

TEST_F(SerialDriver, ClosedContextsAreRefused)
{
    const DRIVER_CONTEXT closed = open_;
    ASSERT_EQ(driver_.Close(closed), TRUE);
    open_ = 0;
    std::vector<unsigned char> got(4);
    EXPECT_EQ(driver_.Read(closed, got.data(), 4), DRIVER_TRANSFER_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(driver_.Close(closed), FALSE);
    EXPECT_EQ(driver_.Read(device_, got.data(), 4), DRIVER_TRANSFER_FAILED);   // a device is not an open
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SerialDriver, WaitReportsDataTheEventCharAndADrainedOutput)
{
    DWORD events = 0;
    EXPECT_EQ(WaitOnMask(events), FALSE);   // no mask set
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_EQ(SetWaitMask(EV_RXCHAR), TRUE);
    pty_.Write(Bytes("a"));
    ASSERT_EQ(WaitOnMask(events), TRUE);
    EXPECT_EQ(events, EV_RXCHAR);
    ASSERT_EQ(WaitOnMask(events), TRUE);   // still there: reported again
    EXPECT_EQ(events, EV_RXCHAR);
    ASSERT_EQ(Purge(PURGE_RXCLEAR), TRUE);

    DCB dcb = GetDcb();
    dcb.EvtChar = '\n';
    ASSERT_EQ(SetDcb(dcb), TRUE);
    ASSERT_EQ(SetWaitMask(EV_RXFLAG), TRUE);
    auto wait = Start([this] {
        DWORD seen = 0;
        return WaitOnMask(seen) == TRUE ? seen : 0xDEAD;
    });
    pty_.Write(Bytes("$GPRMC,no end yet"));
    ASSERT_TRUE(wait->WaitUntilBlocked());
    pty_.Write(Bytes("*7A\r\n"));
    ASSERT_TRUE(wait->EndsInTime());
    EXPECT_EQ(wait->get(), EV_RXFLAG);

    ASSERT_EQ(SetWaitMask(EV_TXEMPTY), TRUE);
    ASSERT_EQ(Write(Bytes("out")), 3u);
    ASSERT_EQ(WaitOnMask(events), TRUE);
    EXPECT_EQ(events, EV_TXEMPTY);
}

TEST_F(SerialDriver, ANewMaskEndsAWaitWithNoEvents)
{
    ASSERT_EQ(SetWaitMask(EV_RXFLAG | EV_CTS), TRUE);
    auto wait = Start([this] {
        DWORD events = 0xDEAD;
        const BOOL result = WaitOnMask(events);
        return std::make_pair(result, events);
    });
    ASSERT_TRUE(wait->WaitUntilBlocked());
    ASSERT_EQ(SetWaitMask(EV_RXFLAG | EV_CTS), TRUE);
    ASSERT_TRUE(wait->EndsInTime());
    EXPECT_EQ(wait->get(), std::make_pair(TRUE, DWORD{0}));
}

TEST_F(SerialDriver, PurgeClearsInputAndOutput)
{
    ASSERT_EQ(SetWaitMask(EV_RXCHAR), TRUE);
    pty_.Write(Bytes("stale input"));
    DWORD events = 0;
    ASSERT_EQ(WaitOnMask(events), TRUE);
    ASSERT_EQ(Purge(PURGE_RXCLEAR | PURGE_TXCLEAR), TRUE);
    SetTimeouts(MAXDWORD, 0, 0);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 100), 0u);

    // A pty passes bytes on at once, so the output that waits is what the far
    // end has not taken in yet: with the pty full, a purge makes room again.
    FillOutput();
    ASSERT_EQ(Purge(PURGE_TXCLEAR), TRUE);
    SetTimeouts(0, 0, 0);
    auto write = Start([this] { return Write(Bytes("after purge")); });
    ASSERT_TRUE(write->EndsInTime());
    EXPECT_EQ(write->get(), 11u);

    EXPECT_EQ(Purge(0x10), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SerialDriver, SetupCommEnlargesTheInputQueue)
{
    // The event character comes after more than the default 64 KiB: only a
    // queue that holds all of it lets the wait see it.
    const DWORD queues[2] = {256 * 1024, 0};
    ASSERT_EQ(ControlIn(IOCTL_SERIAL_SET_QUEUE_SIZE, queues), TRUE);
    DCB dcb = GetDcb();
    dcb.EvtChar = '!';
    ASSERT_EQ(SetDcb(dcb), TRUE);
    ASSERT_EQ(SetWaitMask(EV_RXFLAG), TRUE);
    std::vector<unsigned char> sent(100 * 1024, 'x');
    sent.push_back('!');
    auto wait = Start([this] {
        DWORD events = 0;
        return WaitOnMask(events) == TRUE ? events : 0xDEAD;
    });
    // More than the kernel holds: the bytes get through only as the wait takes them in.
    ASSERT_TRUE(WriteWithin(pty_.master(), sent, std::chrono::seconds(10)));
    ASSERT_TRUE(wait->EndsInTime());
    EXPECT_EQ(wait->get(), EV_RXFLAG);
    SetTimeouts(MAXDWORD, 0, 0);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, static_cast<DWORD>(sent.size())), sent.size());
    EXPECT_EQ(got, sent);
}

TEST_F(SerialDriver, PurgeAbortEndsABlockedReadAndTheOpenStaysUsable)
{
    SetTimeouts(0, 0, 0);
    auto read = Start([this] {
        std::vector<unsigned char> got;
        const DWORD result = Read(got, 10);
        return std::make_pair(result, GetLastError());
    });
    ASSERT_TRUE(read->WaitUntilBlocked());
    ASSERT_EQ(Purge(PURGE_RXABORT), TRUE);
    ASSERT_TRUE(read->EndsInTime());
    EXPECT_EQ(read->get(), std::make_pair(DRIVER_TRANSFER_FAILED, ERROR_OPERATION_ABORTED));

    pty_.Write(Bytes("next"));
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 4), 4u);
    EXPECT_EQ(got, Bytes("next"));
}

TEST_F(SerialDriver, PurgeAbortEndsABlockedWriteWithWhatItSent)
{
    SetTimeouts(0, 0, 0);
    const std::vector<unsigned char> large(1 << 20, 0x42);
    auto write = Start([&] { return Write(large); });
    // Nobody reads the master, so the write blocks once the pty is full.
    ASSERT_TRUE(write->WaitUntilBlocked());
    ASSERT_EQ(Purge(PURGE_TXABORT), TRUE);
    ASSERT_TRUE(write->EndsInTime());
    const DWORD written = write->get();
    ASSERT_NE(written, DRIVER_TRANSFER_FAILED);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, large.size());
}

}  // namespace
}  // namespace tavrel::testing

namespace tavrel::testing {
namespace {

// The two controls behind the receive event: a descriptor for poll() and the
// driver's own answer, which must agree whether data waits in the device, in
// the driver's queue, or nowhere, and after a hang-up.
class ReceiveWatch : public SerialDriver {
protected:
    void SetUp() override
    {
        SerialDriver::SetUp();
        DWORD descriptor = 0;
        ASSERT_EQ(Control(IOCTL_SERIAL_GET_RECEIVE_WATCH, nullptr, 0, &descriptor, sizeof descriptor), TRUE);
        watch_ = platform::host::UniqueFd(static_cast<int>(descriptor));
        SetTimeouts(MAXDWORD, 0, 0);
    }

    // The driver's answer and the descriptor's, once the descriptor became
    // readable or `settle` passed.
    std::pair<DWORD, bool> State(std::chrono::milliseconds settle = std::chrono::milliseconds(0))
    {
        const bool readable = Readable(watch_.get(), settle);
        DWORD answer = 0xDEAD;
        EXPECT_EQ(Control(IOCTL_SERIAL_GET_RECEIVE_READY, nullptr, 0, &answer, sizeof answer), TRUE);
        return {answer, readable};
    }

    const std::pair<DWORD, bool> idle{0, false};
    const std::pair<DWORD, bool> ready{1, true};
    platform::host::UniqueFd watch_;
};

TEST_F(ReceiveWatch, FollowsDataInTheDeviceAndInTheQueue)
{
    EXPECT_EQ(State(), idle);
    pty_.Write(Bytes("abc"));
    EXPECT_EQ(State(std::chrono::seconds(10)), ready);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 1), 1u);
    EXPECT_EQ(State(), ready);
    EXPECT_EQ(Read(got, 100), 2u);
    EXPECT_EQ(State(), idle);

    // A comm event wait takes the bytes off the device into the queue.
    ASSERT_NO_FATAL_FAILURE(DeliverToDriver(Bytes("queued")));
    EXPECT_EQ(State(), ready);
    // A read takes the queue first, then what came to the device since.
    pty_.Write(Bytes("direct"));
    SetTimeouts(0, 0, 0);
    EXPECT_EQ(Read(got, 12), 12u);
    EXPECT_EQ(got, Bytes("queueddirect"));
    EXPECT_EQ(State(), idle);
}

TEST_F(ReceiveWatch, AHangupKeepsItReadyAndTheReadsFail)
{
    pty_.CloseMaster();
    EXPECT_EQ(State(std::chrono::seconds(10)), ready);
    std::vector<unsigned char> got;
    EXPECT_EQ(Read(got, 100), DRIVER_TRANSFER_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(State(), ready);
}

TEST_F(ReceiveWatch, IsHandedOutOnlyIntoABufferThatHoldsIt)
{
    BYTE small[2] = {};
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_RECEIVE_WATCH, nullptr, 0, small, sizeof small), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_RECEIVE_READY, nullptr, 0, small, sizeof small), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace tavrel::testing
