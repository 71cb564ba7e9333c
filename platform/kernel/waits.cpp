// WaitForSingleObject and WaitForMultipleObjects over the waitable objects. A
// wait sleeps on the kernel's condition variable, or, when an object has a
// readiness descriptor, polls (descriptor_waits.h); a zero time-out only looks.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <vector>

#include "kernel/descriptor_waits.h"
#include "kernel/kernel_object.h"
#include "kernel/never_destroyed.h"
#include "kernel/wait_internal.h"
#include "platform/fail_with.h"
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
    NotifyDescriptorWaiters();
}

namespace {

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

bool HasReadinessDescriptors(const Objects& objects)
{
    return std::any_of(objects.begin(), objects.end(), [](const auto& o) { return o->ReadinessDescriptor() >= 0; });
}

// The descriptors to sleep on. A wait for any object sleeps only when none is
// signalled; a wait for all leaves out the signalled ones, whose descriptors
// would end every sleep at once while it waits for the others. Wait lock held.
WatchedDescriptors DescriptorsToWatch(const Objects& objects, bool waitAll)
{
    WatchedDescriptors watched;
    for (const auto& object : objects) {
        if (const int fd = object->ReadinessDescriptor(); fd >= 0 && !(waitAll && object->IsSignalled())) {
            watched.fds[watched.count++] = fd;
        }
    }
    return watched;
}

bool Exact(const KernelObject& object)
{
    return object.ReadinessDescriptor() >= 0 && object.ReadinessIsExact();
}

// A wait for any object, before its first sleep: the first signalled object,
// asking only those whose state their descriptor does not tell exactly, since
// the sleep's poll tells the others at once. An exact object before the one
// found is asked after all, so that the lowest signalled index still wins.
// Wait lock held.
std::optional<DWORD> TrySatisfyAnyBeforeSleep(const Objects& objects)
{
    std::size_t found = 0;
    while (found < objects.size() && (Exact(*objects[found]) || !objects[found]->IsSignalled())) {
        ++found;
    }
    if (found == objects.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < found; ++i) {
        if (Exact(*objects[i]) && objects[i]->IsSignalled()) {
            found = i;
            break;
        }
    }
    objects[found]->Satisfy();
    return static_cast<DWORD>(found);
}

// A wait for any object, after a sleep that nothing notified: an exact object
// is signalled when its descriptor polled readable; the others are asked.
// Watched descriptors are in the order of the objects that have one. Wait lock held.
std::optional<DWORD> TrySatisfyAnyAfterPoll(const Objects& objects, const SleepOutcome& outcome)
{
    std::size_t place = 0;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        KernelObject& object = *objects[i];
        const bool watched = object.ReadinessDescriptor() >= 0;
        const bool readable = watched && outcome.readable[place];
        place += watched ? 1 : 0;
        if (Exact(object) ? readable : object.IsSignalled()) {
            object.Satisfy();
            return static_cast<DWORD>(i);
        }
    }
    return std::nullopt;
}

// What a look after a sleep finds: everything is asked unless this is a wait
// for any object and nothing but the descriptors changed. Wait lock held.
std::optional<DWORD> TrySatisfyAfterSleep(const Objects& objects, bool waitAll, const SleepOutcome& outcome)
{
    return waitAll || outcome.notified ? TrySatisfy(objects, waitAll) : TrySatisfyAnyAfterPoll(objects, outcome);
}

bool Passed(const WaitDeadline& deadline)
{
    return deadline && WaitClock::now() >= *deadline;
}

// Sleeps on the condition variable, which every state change notifies.
std::optional<DWORD> SleepUntilSatisfied(std::unique_lock<std::mutex>& lock, const Objects& objects, bool waitAll,
                                         const WaitDeadline& deadline)
{
    for (;;) {
        if (!deadline) {
            WaitCondition().wait(lock);
        } else if (WaitCondition().wait_until(lock, *deadline) == std::cv_status::timeout) {
            return TrySatisfy(objects, waitAll);
        }
        if (const auto index = TrySatisfy(objects, waitAll)) {
            return index;
        }
    }
}

DWORD ResultOf(const std::optional<DWORD>& index)
{
    return index ? WAIT_OBJECT_0 + *index : WAIT_TIMEOUT;
}

// Polls the objects' descriptors and the thread's wake-up descriptor. A
// descriptor in error can no longer tell when its object changes, and would
// make the wait spin until its deadline, or for ever: unless the objects
// satisfy it at that look, the wait fails, as one on a handle that has gone.
DWORD PollUntilSatisfied(std::unique_lock<std::mutex>& lock, const Objects& objects, bool waitAll,
                         const WaitDeadline& deadline)
{
    DescriptorWaiter waiter;
    for (;;) {
        const WatchedDescriptors watched = DescriptorsToWatch(objects, waitAll);
        lock.unlock();
        const SleepOutcome outcome = waiter.Sleep(watched, deadline);
        lock.lock();
        if (const auto index = TrySatisfyAfterSleep(objects, waitAll, outcome)) {
            return ResultOf(index);
        }
        if (!outcome.sound) {
            return FailWith(ERROR_INVALID_HANDLE, WAIT_FAILED);
        }
        if (Passed(deadline)) {
            return WAIT_TIMEOUT;
        }
    }
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
        return platform::FailWith(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    }
    Objects objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<KernelObject> object = LookupHandle(handles[i]);
        if (object == nullptr || !object->IsWaitable()) {
            return platform::FailWith(ERROR_INVALID_HANDLE, WAIT_FAILED);
        }
        objects.push_back(std::move(object));
    }
    const bool all = waitAll != FALSE;
    if (all && HasDuplicates(objects)) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    }
    const WaitDeadline deadline =
        milliseconds == INFINITE ? WaitDeadline() : WaitClock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(WaitLock());
    // A zero time-out only looks: it never sleeps, not even for an instant, so it asks every object.
    if (milliseconds == 0) {
        return ResultOf(TrySatisfy(objects, all));
    }
    if (!HasReadinessDescriptors(objects)) {
        const std::optional<DWORD> index = TrySatisfy(objects, all);
        return index ? ResultOf(index) : ResultOf(SleepUntilSatisfied(lock, objects, all, deadline));
    }
    const std::optional<DWORD> index = all ? TrySatisfy(objects, all) : TrySatisfyAnyBeforeSleep(objects);
    return index ? ResultOf(index) : PollUntilSatisfied(lock, objects, all, deadline);
}
