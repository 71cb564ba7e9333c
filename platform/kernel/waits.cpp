// WaitForSingleObject and WaitForMultipleObjects over the waitable objects.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <vector>

#include "kernel/kernel_object.h"
#include "kernel/never_destroyed.h"
#include "kernel/wait_internal.h"
#include "platform/kernel.h"

namespace platform::kernel {

std::mutex& WaitLock()
{
    static NeverDestroyed<std::mutex> lock;
    return lock.get();
}

std::condition_variable& WaitCondition()
{
    static NeverDestroyed<std::condition_variable> condition;
    return condition.get();
}

void NotifyWaiters()
{
    WaitCondition().notify_all();
}

namespace {

using Clock = std::chrono::steady_clock;
using Objects = std::vector<std::shared_ptr<KernelObject>>;

// The index that satisfies the wait now, if any; satisfies it. Wait lock held.
std::optional<DWORD> TrySatisfy(const Objects& objects, bool waitAll)
{
    if (waitAll) {
        const bool all = std::all_of(objects.begin(), objects.end(), [](const auto& o) { return o->IsSignalled(); });
        if (!all) {
            return std::nullopt;
        }
        for (const auto& object : objects) {
            object->Satisfy();
        }
        return 0;
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->IsSignalled()) {
            objects[i]->Satisfy();
            return static_cast<DWORD>(i);
        }
    }
    return std::nullopt;
}

bool HasDuplicates(const Objects& objects)
{
    for (std::size_t i = 0; i < objects.size(); ++i) {
        for (std::size_t j = i + 1; j < objects.size(); ++j) {
            if (objects[i] == objects[j]) {
                return true;
            }
        }
    }
    return false;
}

DWORD Fail(DWORD error)
{
    SetLastError(error);
    return WAIT_FAILED;
}

}  // namespace
}  // namespace platform::kernel

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    using namespace platform::kernel;
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Objects objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<KernelObject> object = LookupHandle(handles[i]);
        if (object == nullptr || !object->IsWaitable()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        objects.push_back(std::move(object));
    }
    if (waitAll && HasDuplicates(objects)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(WaitLock());
    for (;;) {
        if (const auto index = TrySatisfy(objects, waitAll != FALSE)) {
            return WAIT_OBJECT_0 + *index;
        }
        if (milliseconds == INFINITE) {
            WaitCondition().wait(lock);
        } else if (WaitCondition().wait_until(lock, deadline) == std::cv_status::timeout) {
            if (const auto index = TrySatisfy(objects, waitAll != FALSE)) {
                return WAIT_OBJECT_0 + *index;
            }
            return WAIT_TIMEOUT;
        }
    }
}
