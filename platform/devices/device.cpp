#include "devices/device.h"

#include <algorithm>

#include "platform/comm.h"
#include "platform/kernel.h"
#include "platform/registry.h"

namespace platform::devices {
namespace {

// The driver's view of its own key, through the registry.
LONG QueryDriverValue(const WCHAR* registryPath, const WCHAR* name, DWORD* type, BYTE* data, DWORD* size)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, registryPath, 0, KEY_QUERY_VALUE, &key);
    if (result != static_cast<LONG>(ERROR_SUCCESS)) {
        return result;
    }
    result = RegQueryValueExW(key, name, nullptr, type, data, size);
    RegCloseKey(key);
    return result;
}

// A driver that failed without saying why still fails with a reason.
void EnsureLastError()
{
    if (GetLastError() == ERROR_SUCCESS) {
        SetLastError(ERROR_GEN_FAILURE);
    }
}

}  // namespace

Device::Device(std::u16string name, std::u16string registryPath, const STREAM_DRIVER_ENTRIES& entries,
               std::string nodeFolder, std::string portGroup, DWORD index)
    : name_(std::move(name)), registryPath_(std::move(registryPath)), entries_(entries),
      nodeFolder_(std::move(nodeFolder)), portGroup_(std::move(portGroup))
{
    host_.cbSize = sizeof(DEVICE_HOST);
    host_.deviceIndex = index;
    host_.registryPath = registryPath_.c_str();
    host_.nodeFolder = nodeFolder_.c_str();
    host_.SetLastError = ::SetLastError;
    host_.DebugOutput = ::OutputDebugStringW;
    host_.QueryValue = QueryDriverValue;
    host_.portGroup = portGroup_.c_str();
}

Device::~Device() = default;

bool Device::Initialise()
{
    SetLastError(ERROR_SUCCESS);
    context_ = entries_.Init(registryPath_.c_str(), &host_);
    if (context_ == 0) {
        EnsureLastError();
        return false;
    }
    return true;
}

void Device::Deactivate()
{
    std::vector<std::weak_ptr<DeviceFile>> files;
    {
        // Waits for an open under way: its file is among those shut down here.
        std::lock_guard opening(openLock_);
        std::lock_guard guard(lock_);
        removed_ = true;
        files.swap(files_);
    }
    for (const auto& weak : files) {
        if (const auto file = weak.lock()) {
            file->Shutdown();
        }
    }
    entries_.Deinit(context_);
    context_ = 0;   // no open reads it once the device is marked removed
}

std::shared_ptr<DeviceFile> Device::Open(DWORD access, DWORD shareMode)
{
    // The whole open, from the check to the record of its file, is one step
    // for Deactivate: an open never reaches a device that is going, and a file
    // opened before is always recorded, so that it is shut down before Deinit.
    std::lock_guard opening(openLock_);
    if (!ReserveOpen(access)) {
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    const DRIVER_CONTEXT open = entries_.Open(context_, access, shareMode);
    if (open == 0) {
        EnsureLastError();
        FileClosed(access);
        return nullptr;
    }
    auto file = std::make_shared<DeviceFile>(shared_from_this(), open, access);
    std::lock_guard guard(lock_);
    std::erase_if(files_, [](const auto& weak) { return weak.expired(); });
    files_.push_back(file);
    return file;
}

// A serial port is open for data once at a time; a query-only open (no
// access) may sit beside it.
bool Device::ReserveOpen(DWORD access)
{
    const bool forData = (access & (GENERIC_READ | GENERIC_WRITE)) != 0;
    std::lock_guard guard(lock_);
    if (removed_) {
        SetLastError(ERROR_DEVICE_REMOVED);
        return false;
    }
    if (forData && dataOpens_ > 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    dataOpens_ += forData ? 1 : 0;
    return true;
}

void Device::FileClosed(DWORD access)
{
    if ((access & (GENERIC_READ | GENERIC_WRITE)) != 0) {
        std::lock_guard guard(lock_);
        --dataOpens_;
    }
}

DeviceFile::DeviceFile(std::shared_ptr<Device> device, DRIVER_CONTEXT open, DWORD access)
    : KernelObject(kernel::ObjectType::DeviceFile), device_(std::move(device)), open_(open), access_(access)
{
}

DeviceFile::~DeviceFile()
{
    Shutdown();
}

void DeviceFile::Shutdown()
{
    std::lock_guard shutdownGuard(shutdownLock_);
    if (closed_) {
        return;
    }
    {
        std::lock_guard guard(lock_);
        closing_ = true;
    }
    if (entries().PreClose != nullptr) {
        entries().PreClose(open_);
    }
    {
        std::unique_lock guard(lock_);
        idle_.wait(guard, [this] { return inFlight_ == 0; });
    }
    entries().Close(open_);
    closed_ = true;
    device_->FileClosed(access_);
    // A wait on the file's receive event polls a descriptor that the driver
    // no longer serves: it must look again, and find the event signalled.
    kernel::NotifyWaiters();
}

bool DeviceFile::ShuttingDown()
{
    std::lock_guard guard(lock_);
    return closing_;
}

bool DeviceFile::Enter()
{
    std::lock_guard guard(lock_);
    if (closing_) {
        return false;
    }
    ++inFlight_;
    return true;
}

void DeviceFile::Leave()
{
    std::lock_guard guard(lock_);
    if (--inFlight_ == 0) {
        idle_.notify_all();
    }
}

int DeviceFile::CallsInFlight()
{
    std::lock_guard guard(lock_);
    return inFlight_;
}

BOOL DeviceFile::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize)
{
    DriverCall call(*this);
    if (!call.entered()) {
        SetLastError(ERROR_DEVICE_REMOVED);
        return FALSE;
    }
    DWORD actual = 0;
    SetLastError(ERROR_SUCCESS);
    const BOOL done = entries().IOControl(open_, code, static_cast<const BYTE*>(in), inSize, static_cast<BYTE*>(out),
                                          outSize, &actual);
    if (!done) {
        EnsureLastError();
        return FALSE;
    }
    return TRUE;
}

}  // namespace platform::devices
