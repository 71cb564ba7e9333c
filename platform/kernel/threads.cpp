// Threads: each runs on a std::thread of its own; its handle is waitable and
// is signalled, with the exit code kept, when the thread function returns.
#include <atomic>
#include <system_error>
#include <thread>

#include "kernel/kernel_object.h"
#include "platform/kernel.h"

namespace platform::kernel {
namespace {

std::atomic<DWORD> nextThreadId{1};
thread_local DWORD currentThreadId = 0;

class Thread final : public KernelObject {
public:
    explicit Thread(DWORD id) : KernelObject(ObjectType::Thread), id_(id) {}

    bool IsWaitable() const override { return true; }
    bool IsSignalled() const override { return finished_; }

    void Finish(DWORD exitCode)
    {
        {
            std::lock_guard guard(WaitLock());
            exitCode_ = exitCode;
            finished_ = true;
        }
        NotifyWaiters();
    }

    DWORD ExitCode() const
    {
        std::lock_guard guard(WaitLock());
        return finished_ ? exitCode_ : STILL_ACTIVE;
    }

    DWORD id() const { return id_; }

private:
    const DWORD id_;
    bool finished_ = false;   // guarded by WaitLock()
    DWORD exitCode_ = 0;      // guarded by WaitLock()
};

DWORD NewThreadId()
{
    return nextThreadId.fetch_add(1);
}

}  // namespace
}  // namespace platform::kernel

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId)
{
    using namespace platform::kernel;
    if (start == nullptr || creationFlags != 0) {
        // A suspended start would need ResumeThread, which this platform does not offer.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto thread = std::make_shared<Thread>(NewThreadId());
    HANDLE handle = InsertHandle(thread);
    if (handle == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        std::thread([thread, start, parameter] {
            currentThreadId = thread->id();
            thread->Finish(start(parameter));
        }).detach();
    } catch (const std::system_error&) {
        RemoveHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = thread->id();
    }
    return handle;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode)
{
    using namespace platform::kernel;
    const auto thread = LookupHandleAs<Thread>(handle, ObjectType::Thread);
    if (thread == nullptr || exitCode == nullptr) {
        SetLastError(thread == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = thread->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId()
{
    using namespace platform::kernel;
    if (currentThreadId == 0) {
        currentThreadId = NewThreadId();
    }
    return currentThreadId;
}
