// The handle table: handle values count up and are not reused, so a stale
// handle fails with ERROR_INVALID_HANDLE instead of reaching a newer object.
#include <condition_variable>
#include <unordered_map>

#include "kernel/kernel_object.h"
#include "kernel/wait_internal.h"
#include "platform/kernel.h"
#include "platform/quotas.h"

namespace platform::kernel {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects;
    ULONG_PTR next = 1;
    std::size_t quota = kDefaultHandleQuota;
};

HandleTable& Table()
{
    static HandleTable table;
    return table;
}

ULONG_PTR Key(HANDLE handle) { return reinterpret_cast<ULONG_PTR>(handle); }

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    if (table.objects.size() >= table.quota) {
        return nullptr;
    }
    // Multiples of four, as on Windows; the counter cannot reach (HANDLE)-1.
    const ULONG_PTR value = table.next++ * 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    const auto found = table.objects.find(Key(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    const auto found = table.objects.find(Key(handle));
    if (found == table.objects.end()) {
        return nullptr;
    }
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

}  // namespace platform::kernel

namespace platform {

void SetHandleQuota(std::size_t handles)
{
    kernel::HandleTable& table = kernel::Table();
    std::lock_guard guard(table.lock);
    table.quota = handles;
}

std::size_t OpenHandleCount()
{
    kernel::HandleTable& table = kernel::Table();
    std::lock_guard guard(table.lock);
    return table.objects.size();
}

}  // namespace platform

BOOL CloseHandle(HANDLE object)
{
    std::shared_ptr<platform::kernel::KernelObject> closed = platform::kernel::RemoveHandle(object);
    if (closed == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    closed->OnHandleClosed();
    return TRUE;
}
