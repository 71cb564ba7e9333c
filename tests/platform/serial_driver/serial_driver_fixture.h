// Drives the built-in serial driver through its entry points, on the slave of
// a pseudo-terminal whose master the test holds as the device's far end.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "platform/comm.h"
#include "platform/streamdriver.h"
#include "support/fake_device_host.h"
#include "testkit/proc_stats.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {

// Where a blocked driver call sleeps: on the device, in poll(); or, when it
// may be queued behind another call of its kind, possibly waiting for its
// turn on a lock.
enum class Blocked { OnDevice, OnDeviceOrInTurn };

// A driver call running on another thread. Should the test give up on it,
// it is unblocked (PreClose of the open) before the thread is joined, so a
// failing test ends instead of hanging.
template <typename Result>
class BackgroundCall {
public:
    BackgroundCall(std::function<Result()> call, std::function<void()> unblock)
        : unblock_(std::move(unblock)), pending_(std::async(std::launch::async, [this, call = std::move(call)] {
              thread_ = static_cast<pid_t>(::syscall(SYS_gettid));
              return call();
          }))
    {
    }
    ~BackgroundCall()
    {
        if (pending_.valid() && !IsReady(std::chrono::milliseconds(0))) {
            unblock_();
        }
    }
    BackgroundCall(const BackgroundCall&) = delete;
    BackgroundCall& operator=(const BackgroundCall&) = delete;

    // Waits until the call's thread sleeps where `where` says, as the host
    // reports it; false after 10 s of never finding it there.
    bool WaitUntilBlocked(Blocked where = Blocked::OnDevice) const
    {
        return where == Blocked::OnDeviceOrInTurn ? WaitUntilSleepsIn(thread_, {SYS_poll, SYS_ppoll, SYS_futex})
                                                  : WaitUntilSleepsIn(thread_, {SYS_poll, SYS_ppoll});
    }
    // Waits up to 10 s for the call to return.
    bool EndsInTime() { return IsReady(std::chrono::seconds(10)); }
    Result get() { return pending_.get(); }

private:
    bool IsReady(std::chrono::milliseconds wait) { return pending_.wait_for(wait) == std::future_status::ready; }

    std::function<void()> unblock_;
    std::atomic<pid_t> thread_{0};   // set by the call's thread before it calls
    std::future<Result> pending_;
};

// A driver instance whose key names the pty slave; not opened yet.
class SerialDriverInstance : public ::testing::Test {
public:
    SerialDriverInstance();

protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the port; the test fails when it cannot.
    void OpenPort();
    // Open()'s result and, on failure, its last error.
    DRIVER_CONTEXT TryOpen(DWORD& error);

    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* outActual = nullptr);
    template <typename T>
    BOOL ControlIn(DWORD code, const T& value)
    {
        return Control(code, &value, sizeof value, nullptr, 0);
    }

    DCB GetDcb();
    BOOL SetDcb(const DCB& dcb);
    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant, DWORD writeMultiplier = 0,
                     DWORD writeConstant = 0);
    BOOL SetWaitMask(DWORD mask);
    BOOL Purge(DWORD flags);
    // WAIT_ON_MASK; the events are stored in `events`.
    BOOL WaitOnMask(DWORD& events);

    // Read()/Write() of the entry points; the bytes read are in `into`.
    DWORD Read(std::vector<unsigned char>& into, DWORD count);
    DWORD Write(const std::vector<unsigned char>& bytes);
    // The far end sends `bytes`; returns once all of them are in the driver's
    // input queue (EV_RXFLAG on the last byte, which becomes the EvtChar).
    void DeliverToDriver(const std::vector<unsigned char>& bytes);
    // Writes until the pty is full (nobody reads the master), so that the next
    // write blocks. Leaves a 1 ms write time-out set.
    void FillOutput();
    // Reads under the current time-outs until `count` bytes came, for at most 10 s.
    std::vector<unsigned char> ReadUntil(std::size_t count);

    // Runs a call of the driver on another thread.
    template <typename Call>
    auto Start(Call call)
    {
        using Result = decltype(call());
        return std::make_unique<BackgroundCall<Result>>(std::move(call), [this] { driver_.PreClose(open_); });
    }

    PtyPair pty_;
    TempFolder nodes_;
    FakeDeviceHost host_{1, nodes_.path(), u"Drivers\\BuiltIn\\Serial1"};
    const STREAM_DRIVER_ENTRIES& driver_;
    DRIVER_CONTEXT device_ = 0;
    DRIVER_CONTEXT open_ = 0;
};

// The same, opened.
class SerialDriver : public SerialDriverInstance {
protected:
    void SetUp() override;
};

}  // namespace tavrel::testing
