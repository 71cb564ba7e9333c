// CreateCommReceiveEvent: a waitable object over a port's received data. The
// driver hands out a descriptor that polls readable exactly while a read would
// return at once, which a wait polls (kernel/descriptor_waits.h), so a wait
// learns the state from its poll alone; asked apart from a wait, the driver
// says itself. A closed port is signalled, so that no wait on it sleeps for
// ever: closing the file notifies the waiters, and from then on the
// descriptor, which the driver no longer serves, tells nothing.
#include "devices/device.h"
#include "platform/comm.h"
#include "platform/host/unique_fd.h"
#include "platform/kernel.h"

namespace platform::devices {
namespace {

class CommReceiveEvent final : public kernel::KernelObject {
public:
    CommReceiveEvent(std::shared_ptr<DeviceFile> file, host::UniqueFd watch)
        : KernelObject(kernel::ObjectType::CommReceiveEvent), file_(std::move(file)), watch_(std::move(watch))
    {
    }

    bool IsWaitable() const override { return true; }
    int ReadinessDescriptor() const override { return watch_.get(); }
    bool ReadinessIsExact() const override { return !file_->ShuttingDown(); }

    // Asks the driver. A wait leaves the thread's last error as it was.
    bool IsSignalled() const override
    {
        const DWORD lastError = GetLastError();
        DWORD ready = 0;
        const bool answered = file_->IoControl(IOCTL_SERIAL_GET_RECEIVE_READY, nullptr, 0, &ready, sizeof ready);
        SetLastError(lastError);
        return !answered || ready != 0;   // a port that no longer answers fails a read at once
    }

private:
    const std::shared_ptr<DeviceFile> file_;
    const host::UniqueFd watch_;
};

}  // namespace
}  // namespace platform::devices

HANDLE CreateCommReceiveEvent(HANDLE file)
{
    using namespace platform;
    const auto port = kernel::LookupHandleAs<devices::DeviceFile>(file, kernel::ObjectType::DeviceFile);
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    DWORD descriptor = 0;
    if (!port->IoControl(IOCTL_SERIAL_GET_RECEIVE_WATCH, nullptr, 0, &descriptor, sizeof descriptor)) {
        return nullptr;
    }
    host::UniqueFd watch(static_cast<int>(descriptor));
    HANDLE handle = kernel::InsertHandle(std::make_shared<devices::CommReceiveEvent>(port, std::move(watch)));
    SetLastError(handle != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}
