#include "relay/relay_run.h"

#include <algorithm>

#include "platform/kernel.h"
#include "relay/relay_control.h"
#include "relay/relay_worker.h"
#include "testkit/pty_pair.h"

namespace tavrel::testing {
namespace {

DWORD Milliseconds(std::chrono::milliseconds timeout)
{
    return static_cast<DWORD>(timeout.count());
}

void Release(HANDLE& handle)
{
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace

RelayRun::RelayRun()
{
    RelayControl.running = 0;
    RelayControl.stopEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RelayControl.startedEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

RelayRun::~RelayRun()
{
    // A worker that acknowledged a stop may still be on its way out: it is
    // waited for, not asked to stop again (it would never acknowledge twice).
    if (thread_ != nullptr && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT) {
        if (!stopSignalled_) {
            Stop();
        }
        WaitEnded();
    }
    Release(thread_);
    RelayControl.stopEvent.Reset();
    RelayControl.startedEvent.Reset();
    RelayControl.stopAckEvent.Reset();
    RelayControl.running = 0;
}

bool RelayRun::Start(std::chrono::milliseconds timeout)
{
    Launch();
    return WaitStarted(timeout);
}

void RelayRun::Launch()
{
    thread_ = CreateThread(nullptr, 0, ThreadGPSProxy, nullptr, 0, nullptr);
}

bool RelayRun::WaitStarted(std::chrono::milliseconds timeout)
{
    return thread_ != nullptr && WaitForSingleObject(RelayControl.startedEvent.get(), Milliseconds(timeout)) == WAIT_OBJECT_0;
}

void RelayRun::PrepareStop()
{
    if (RelayControl.stopAckEvent.get() == nullptr) {
        RelayControl.stopAckEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    }
}

void RelayRun::SignalStop()
{
    stopSignalled_ = true;
    PrepareStop();
    SetEvent(RelayControl.stopEvent.get());
    RelayControl.running = 0;
}

bool RelayRun::WaitAcknowledged(std::chrono::milliseconds timeout)
{
    return WaitForSingleObject(RelayControl.stopAckEvent.get(), Milliseconds(timeout)) == WAIT_OBJECT_0;
}

bool RelayRun::Stop(std::chrono::milliseconds timeout)
{
    SignalStop();
    return WaitAcknowledged(timeout);
}

bool RelayRun::WaitEnded(std::chrono::milliseconds timeout)
{
    return thread_ != nullptr && WaitForSingleObject(thread_, Milliseconds(timeout)) == WAIT_OBJECT_0;
}

DWORD RelayRun::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread_, &code);
    return code;
}

bool RelayRun::running() const
{
    return RelayControl.running != 0;
}

bool RelayRun::StartedSignalled() const
{
    return WaitForSingleObject(RelayControl.startedEvent.get(), 0) == WAIT_OBJECT_0;
}

bool WaitUntilRelaying(const PtyPair& input, const std::vector<int>& readers)
{
    std::vector<bool> reached(readers.size(), false);
    for (int attempt = 0; attempt < 500 && std::count(reached.begin(), reached.end(), false) > 0; ++attempt) {
        input.Write({'~'});
        for (std::size_t i = 0; i < readers.size(); ++i) {
            reached[i] = reached[i] || !ReadFor(readers[i], 1, std::chrono::milliseconds(20)).empty();
        }
    }
    for (int fd : readers) {
        while (!ReadFor(fd, 4096, std::chrono::milliseconds(300)).empty()) {
        }
    }
    return std::count(reached.begin(), reached.end(), false) == 0;
}

}  // namespace tavrel::testing
