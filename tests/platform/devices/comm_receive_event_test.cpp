// The receive event of a port (CreateCommReceiveEvent) on a real pseudo-
// terminal through the built-in serial driver: what signals it, and that a
// wait sleeping on it is woken by data, by another object, and by the port
// going away, and never spins.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "support/scripted_serial_device.h"
#include "support/test_device.h"
#include "testkit/proc_stats.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using Bytes = std::vector<unsigned char>;

constexpr DWORD kGenerous = 20000;

// A WaitForMultipleObjects on a thread of its own, and a way to know that
// the thread sleeps in it instead of guessing how long it takes to get there.
// Its generous time-out only keeps a broken wait from hanging the test: the
// result counts only when the wait was woken before it.
class WaitOnAnotherThread {
public:
    WaitOnAnotherThread(std::vector<HANDLE> objects, BOOL waitAll)
        : thread_([this, objects, waitAll] {
              thread_id_ = static_cast<pid_t>(::syscall(SYS_gettid));
              const auto start = std::chrono::steady_clock::now();
              result_ = WaitForMultipleObjects(static_cast<DWORD>(objects.size()), objects.data(), waitAll, kGenerous);
              woken_ = std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kGenerous);
          })
    {
    }
    ~WaitOnAnotherThread()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    WaitOnAnotherThread(const WaitOnAnotherThread&) = delete;
    WaitOnAnotherThread& operator=(const WaitOnAnotherThread&) = delete;

    // True once the thread sleeps in poll(), as the host reports it; false
    // after 10 s of never finding it there (a thread that spins never is).
    bool WaitUntilAsleep() const { return WaitUntilSleepsIn(thread_id_, {SYS_poll, SYS_ppoll}); }

    // The wait's result; WAIT_TIMEOUT when it ended only at its time-out.
    DWORD Result()
    {
        thread_.join();
        return woken_ ? result_ : WAIT_TIMEOUT;
    }

private:
    std::atomic<pid_t> thread_id_{0};
    DWORD result_ = WAIT_FAILED;
    bool woken_ = false;
    std::thread thread_;
};

// COM4: on a pseudo-terminal whose far end the test holds, opened for
// non-blocking reads, with its receive event.
class CommReceiveEventTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_.MapBuiltInPort(u"Pty", 4, far_.slavePath());
        device_.Reboot();
        port_ = CreateFileW(u"COM4:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE);
        COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
        ASSERT_EQ(SetCommTimeouts(port_, &immediate), TRUE);
        SetLastError(1234);
        received_ = CreateCommReceiveEvent(port_);
        ASSERT_NE(received_, nullptr);
        EXPECT_EQ(GetLastError(), 0u);
    }
    void TearDown() override
    {
        CloseHandle(received_);
        CloseHandle(stop_);
        if (port_ != INVALID_HANDLE_VALUE) {
            CloseHandle(port_);
        }
    }

    Bytes ReadNow(DWORD size = 100)
    {
        Bytes got(size);
        DWORD count = 0;
        EXPECT_EQ(ReadFile(port_, got.data(), size, &count, nullptr), TRUE);
        got.resize(count);
        return got;
    }

    PtyPair far_;
    TestDevice device_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE received_ = nullptr;
    HANDLE stop_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

TEST_F(CommReceiveEventTest, DataWakesASleepingWaitAndAReadThatTakesAllClearsIt)
{
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_TIMEOUT);
    WaitOnAnotherThread wait({stop_, received_}, FALSE);
    ASSERT_TRUE(wait.WaitUntilAsleep());
    far_.Write({'$', 'G', 'P'});
    EXPECT_EQ(wait.Result(), WAIT_OBJECT_0 + 1);

    // A wait does not change it: the data is still there.
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ReadNow(2), (Bytes{'$', 'G'}));
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ReadNow(), (Bytes{'P'}));
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_TIMEOUT);
}

TEST_F(CommReceiveEventTest, AnotherObjectWakesTheWaitAndWinsATie)
{
    WaitOnAnotherThread wait({stop_, received_}, FALSE);
    ASSERT_TRUE(wait.WaitUntilAsleep());
    SetEvent(stop_);
    EXPECT_EQ(wait.Result(), WAIT_OBJECT_0);

    far_.Write({'x'});
    ASSERT_EQ(WaitForSingleObject(received_, kGenerous), WAIT_OBJECT_0);
    SetEvent(stop_);
    const HANDLE both[2] = {stop_, received_};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
}

TEST_F(CommReceiveEventTest, AWaitForAllSleepsWhileOnlyTheDataIsThere)
{
    far_.Write({'x'});
    ASSERT_EQ(WaitForSingleObject(received_, kGenerous), WAIT_OBJECT_0);
    // The signalled receive event must not keep waking the wait for the other.
    WaitOnAnotherThread wait({stop_, received_}, TRUE);
    ASSERT_TRUE(wait.WaitUntilAsleep());
    SetEvent(stop_);
    EXPECT_EQ(wait.Result(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(stop_, 0), WAIT_TIMEOUT);   // the wait for all took it
}

TEST_F(CommReceiveEventTest, DataTakenInByACommEventWaitKeepsItSignalled)
{
    ASSERT_EQ(SetCommMask(port_, EV_RXCHAR), TRUE);
    far_.Write({'a', 'b', 'c'});
    DWORD events = 0;
    ASSERT_EQ(WaitCommEvent(port_, &events, nullptr), TRUE);   // moves the bytes into the driver's queue
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ReadNow(), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_TIMEOUT);
}

TEST_F(CommReceiveEventTest, AHangupSignalsItAndTheReadReportsIt)
{
    WaitOnAnotherThread wait({received_}, FALSE);
    ASSERT_TRUE(wait.WaitUntilAsleep());
    far_.CloseMaster();
    EXPECT_EQ(wait.Result(), WAIT_OBJECT_0);
    BYTE byte = 0;
    DWORD count = 0;
    EXPECT_EQ(ReadFile(port_, &byte, 1, &count, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
}

TEST_F(CommReceiveEventTest, ClosingThePortEndsAWaitOnIt)
{
    WaitOnAnotherThread wait({received_}, FALSE);
    ASSERT_TRUE(wait.WaitUntilAsleep());
    ASSERT_EQ(CloseHandle(port_), TRUE);
    port_ = INVALID_HANDLE_VALUE;
    EXPECT_EQ(wait.Result(), WAIT_OBJECT_0);
    SetLastError(77);
    EXPECT_EQ(WaitForSingleObject(received_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(GetLastError(), 77u);   // a wait leaves the last error alone
}

TEST(CommReceiveEvent, OnlyPortsWhoseDriverCanTellHaveOne)
{
    TestDevice device;
    ScriptedSerialDevices devices;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(CreateCommReceiveEvent(event), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);

    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Port", 5);
    HANDLE activated = ActivateDeviceEx(u"Drivers\\Port", nullptr, 0, nullptr);
    ASSERT_NE(activated, nullptr);
    HANDLE port = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateCommReceiveEvent(port), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(port);
    DeactivateDevice(activated);
}

}  // namespace
