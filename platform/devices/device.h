// An active device (one initialised instance of a stream driver) and the
// files opened on it. A file tracks the driver calls in flight on it, so that
// closing it, or deactivating its device, first wakes those calls (PreClose),
// then waits for them to return before the driver's Close runs.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/kernel_object.h"
#include "platform/streamdriver.h"

namespace platform::devices {

class DeviceFile;

class Device : public std::enable_shared_from_this<Device> {
public:
    Device(std::u16string name, std::u16string registryPath, const STREAM_DRIVER_ENTRIES& entries,
           std::string nodeFolder, std::string portGroup, DWORD index);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Runs the driver's Init; false with the last error set when it fails.
    bool Initialise();
    // Closes every open file, then runs the driver's Deinit. An open under
    // way is waited for, and its file closed with the others; later opens
    // fail with ERROR_DEVICE_REMOVED.
    void Deactivate();

    // Opens the device for a file; null with the last error set on failure.
    std::shared_ptr<DeviceFile> Open(DWORD access, DWORD shareMode);
    void FileClosed(DWORD access);

    const std::u16string& name() const { return name_; }
    // The driver key it was activated from, without a leading backslash.
    const std::u16string& registryPath() const { return registryPath_; }
    const STREAM_DRIVER_ENTRIES& entries() const { return entries_; }
    const DEVICE_HOST& host() const { return host_; }

private:
    // Counts a data open in, unless the device is removed or open for data.
    bool ReserveOpen(DWORD access);

    const std::u16string name_;
    const std::u16string registryPath_;
    const STREAM_DRIVER_ENTRIES entries_;
    const std::string nodeFolder_;
    const std::string portGroup_;
    DEVICE_HOST host_{};
    DRIVER_CONTEXT context_ = 0;

    std::mutex openLock_;   // held across a whole open, and while Deactivate marks the device removed
    std::mutex lock_;
    bool removed_ = false;                       // guarded by lock_
    int dataOpens_ = 0;                          // guarded by lock_
    std::vector<std::weak_ptr<DeviceFile>> files_;   // guarded by lock_
};

class DeviceFile final : public kernel::KernelObject {
public:
    DeviceFile(std::shared_ptr<Device> device, DRIVER_CONTEXT open, DWORD access);
    ~DeviceFile() override;

    void OnHandleClosed() override { Shutdown(); }
    // Wakes the calls in flight, waits for them, and closes the driver's open context.
    void Shutdown();

    // A driver call on this file: Enter() is false once the file is shut down.
    bool Enter();
    // Whether the file is being shut down or was; asks the driver nothing.
    bool ShuttingDown();
    void Leave();
    // How many driver calls have entered and not yet left.
    int CallsInFlight();
    // One I/O control of the driver; FALSE with the last error set on failure.
    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize);

    DRIVER_CONTEXT open() const { return open_; }
    const STREAM_DRIVER_ENTRIES& entries() const { return device_->entries(); }

private:
    const std::shared_ptr<Device> device_;
    const DRIVER_CONTEXT open_;
    const DWORD access_;

    std::mutex shutdownLock_;    // held for the whole shutdown, so a second caller waits for it
    std::mutex lock_;
    std::condition_variable idle_;
    bool closing_ = false;       // guarded by lock_
    bool closed_ = false;        // guarded by shutdownLock_
    int inFlight_ = 0;           // guarded by lock_
};

// Runs one driver call on a file; the file stays open until it returns.
class DriverCall {
public:
    explicit DriverCall(DeviceFile& file) : file_(file), entered_(file.Enter()) {}
    ~DriverCall()
    {
        if (entered_) {
            file_.Leave();
        }
    }
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;
    bool entered() const { return entered_; }

private:
    DeviceFile& file_;
    const bool entered_;
};

}  // namespace platform::devices
