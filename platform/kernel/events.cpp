// Events: manual-reset events stay signalled until reset; auto-reset events are
// cleared by the one wait that they satisfy.
#include "kernel/kernel_object.h"
#include "platform/kernel.h"

namespace platform::kernel {
namespace {

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool signalled)
        : KernelObject(ObjectType::Event), manualReset_(manualReset), signalled_(signalled)
    {
    }

    bool IsWaitable() const override { return true; }
    bool IsSignalled() const override { return signalled_; }
    void Satisfy() override
    {
        if (!manualReset_) {
            signalled_ = false;
        }
    }

    void Set(bool signalled)
    {
        {
            std::lock_guard guard(WaitLock());
            signalled_ = signalled;
        }
        if (signalled) {
            NotifyWaiters();
        }
    }

private:
    const bool manualReset_;
    bool signalled_;   // guarded by WaitLock()
};

BOOL SetState(HANDLE handle, bool signalled)
{
    const auto event = LookupHandleAs<Event>(handle, ObjectType::Event);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Set(signalled);
    return TRUE;
}

}  // namespace
}  // namespace platform::kernel

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name)
{
    using namespace platform::kernel;
    if (name != nullptr) {
        // Named events are shared between processes on the device; nothing here uses them.
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HANDLE handle = InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
    SetLastError(handle != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

BOOL SetEvent(HANDLE event)
{
    return platform::kernel::SetState(event, true);
}

BOOL ResetEvent(HANDLE event)
{
    return platform::kernel::SetState(event, false);
}
