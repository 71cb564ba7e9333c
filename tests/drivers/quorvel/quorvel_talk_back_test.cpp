// What a program writes to a virtual port reaches the data open that set an
// input queue: in order, with a receive watch to wait on, and held back at
// the queue's limit rather than lost.
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/devices.h"
#include "platform/kernel.h"
#include "quorvel_harness.h"
#include "serial/serial_port.h"
#include "support/test_device.h"
#include "testkit/proc_stats.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

bool WriteInPieces(int fd, std::span<const unsigned char> bytes, std::size_t piece)
{
    for (std::size_t done = 0; done < bytes.size(); done += piece) {
        const std::size_t size = std::min(piece, bytes.size() - done);
        if (::write(fd, &bytes[done], size) != static_cast<ssize_t>(size)) {
            return false;
        }
    }
    return true;
}

class VirtualPortTalkBack : public ::testing::Test {
protected:
    TempFolder folder_;
    QuorvelModule module_;
    PortUnderTest port_{module_, 5, folder_.path()};

    void SetInputQueue(DWORD size)
    {
        const DWORD queues[2] = {size, 0};
        EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_QUEUE_SIZE, queues, sizeof queues, nullptr, 0), TRUE);
    }

    // Whether ClearCommError comes to count `count` bytes kept, within 10 s.
    bool InQueueBecomes(DWORD count)
    {
        SERIAL_DEV_STATUS status{};
        for (int look = 0; look < 10000; ++look, std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
            if (port_.Control(IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, &status, sizeof status) == TRUE &&
                status.ComStat.cbInQue == count) {
                return true;
            }
        }
        return false;
    }

    // Reads until `count` bytes came, sleeping on the port's receive watch
    // between reads; a readable watch must mean that a read returns bytes.
    std::vector<unsigned char> ReadKept(std::size_t count)
    {
        DWORD descriptor = 0;
        EXPECT_EQ(port_.Control(IOCTL_SERIAL_GET_RECEIVE_WATCH, nullptr, 0, &descriptor, sizeof descriptor), TRUE);
        const Consumer watch(static_cast<int>(descriptor));
        std::vector<unsigned char> got;
        pollfd wait{watch.fd(), POLLIN, 0};
        while (got.size() < count && ::poll(&wait, 1, 10000) > 0) {
            unsigned char buffer[1500];
            const DWORD n = port_.entries().Read(port_.open(), buffer, sizeof buffer);
            if (n == 0 || n == DRIVER_TRANSFER_FAILED) {
                ADD_FAILURE() << "the watch was readable, but a read returned " << n;
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        EXPECT_EQ(::poll(&wait, 1, 0), 0) << "the watch stays readable with nothing kept";
        return got;
    }
};

TEST_F(VirtualPortTalkBack, WhatAProgramWritesInPiecesAndThenClosesIsReadInOrder)
{
    SetInputQueue(16);   // most of it still waits in the pty when the program closes
    const auto command = CountingStream(100);
    {
        Consumer program(OpenRaw(port_.linkPath()));
        ASSERT_TRUE(program.valid());
        ASSERT_TRUE(WriteInPieces(program.fd(), command, 7));
    }
    EXPECT_EQ(ReadKept(command.size()), command);
}

TEST_F(VirtualPortTalkBack, TheLimitHoldsTheProgramBackAndNothingIsLost)
{
    SetInputQueue(1000);
    Consumer program(::open(port_.linkPath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));   // blocking writes
    ASSERT_TRUE(program.valid());
    const auto stream = CountingStream(256 * 1024);
    std::atomic<pid_t> writerThread{0};
    std::atomic<std::size_t> sent{0};
    std::thread writer([&] {
        writerThread = static_cast<pid_t>(::syscall(SYS_gettid));
        for (ssize_t n = 1; n > 0 && sent < stream.size(); sent += n > 0 ? static_cast<std::size_t>(n) : 0) {
            n = ::write(program.fd(), &stream[sent], std::min<std::size_t>(4096, stream.size() - sent));
        }
    });
    EXPECT_TRUE(InQueueBecomes(1000));
    EXPECT_TRUE(WaitUntilSleepsIn(writerThread, {SYS_write})) << "the program was not held back";
    EXPECT_LT(sent.load(), stream.size());

    const auto got = ReadKept(stream.size());
    if (got.size() != stream.size()) {
        port_.Deinit();   // the hang-up ends the writer's blocked write
    }
    writer.join();
    EXPECT_TRUE(got == stream) << got.size() << " bytes came";
}

// As the relay does it: CSerial opens the port with an input queue, and a
// thread sleeps on the receive event beside its stop event.
TEST(VirtualPortTalkBackThroughTheDevice, TheReceiveEventWakesARelayThread)
{
    TestDevice device;
    device.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
    device.WriteVirtualPortKey(2);
    HANDLE active = ActivateDeviceEx(u"Drivers\\quorvel2", nullptr, 0, nullptr);
    CSerial relay;
    ASSERT_EQ(relay.Open(u"COM2:", 4096, 4096, false), 0);
    HANDLE received = nullptr;
    ASSERT_EQ(relay.CreateReceiveEvent(&received), 0);
    const HANDLE waits[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), received};
    EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 0), WAIT_TIMEOUT) << "nothing was written yet";

    const auto stream = CountingStream(10000);
    std::vector<unsigned char> got;
    std::thread reader([&] {
        unsigned char buffer[512];
        DWORD n = 0;
        while (got.size() < stream.size() && WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0 + 1 &&
               relay.Read(buffer, sizeof buffer, &n, nullptr, INFINITE) == 0 && n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        }
    });
    {
        Consumer program(OpenRaw(device.PortLink(2)));
        EXPECT_TRUE(program.valid() && WriteInPieces(program.fd(), stream, 100));
    }
    reader.join();
    EXPECT_TRUE(got == stream) << got.size() << " bytes came";
    EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 0), WAIT_TIMEOUT) << "all was read";
    CloseHandle(received);
    CloseHandle(waits[0]);
    relay.Close();
    DeactivateDevice(active);
}

}  // namespace
}  // namespace tavrel::testing
