// Kernel objects and the handle table. A handle names one reference to an
// object; the object lives while a handle or a running call still holds it.
// Waitable objects expose two hooks, called with the wait lock held: whether
// they are signalled, and what a satisfied wait does to them. An object whose
// state changes outside the process's own calls (a device receiving data)
// also names a host descriptor that a waiting thread polls.
#pragma once

#include <memory>
#include <mutex>

#include "platform/types.h"

namespace platform::kernel {

enum class ObjectType { Event, Thread, Mutex, DeviceFile, Device, FileSearch, CommReceiveEvent };

class KernelObject {
public:
    explicit KernelObject(ObjectType type) : type_(type) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    ObjectType type() const { return type_; }

    virtual bool IsWaitable() const { return false; }
    virtual bool IsSignalled() const { return false; }   // wait lock held
    virtual void Satisfy() {}                             // wait lock held
    // A descriptor that polls readable (POLLIN) whenever the object may have
    // become signalled without a call that notifies the waiters; -1 for the
    // objects that change only through such calls. Fixed for the object's life.
    virtual int ReadinessDescriptor() const { return -1; }
    // True when that descriptor polls readable exactly while the object is
    // signalled, any other change of the object notifying the waiters: a wait
    // for any object then learns the object's state from its own poll, with
    // no look before the sleep or after it (which may cost host calls).
    virtual bool ReadinessIsExact() const { return false; }
    // Called when a handle to the object is closed, before the reference goes.
    virtual void OnHandleClosed() {}

private:
    ObjectType type_;
};

// Adds the object and returns its new handle (never null, never
// INVALID_HANDLE_VALUE); null when the table is full.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// Removes the handle; returns its object, or null when the handle is unknown.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle, ObjectType type)
{
    std::shared_ptr<KernelObject> object = LookupHandle(handle);
    if (object == nullptr || object->type() != type) {
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

// One lock and one condition guard the state of every waitable object, so a
// wait on several objects sees them all at one moment.
std::mutex& WaitLock();
// Wakes every waiter to look again, those polling descriptors included; call
// after a state change, lock released or held.
void NotifyWaiters();

}  // namespace platform::kernel
