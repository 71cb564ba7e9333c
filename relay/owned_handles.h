// The owners of what a run of the relay holds: a kernel handle (an event, the
// worker's thread), closed with CloseHandle, and a timer of the
// user-interface thread with no window, killed with KillTimer. Each holds one
// at a time, lets it go when another takes its place or it is reset, and is
// never copied, so that everything a run holds has exactly one owner.
//
// RelayControl, the global record of these, is emptied before the program
// ends (the run is stopped or released first), so its destructors have
// nothing left to release once the platform itself is going.
#pragma once

#include "platform/kernel.h"
#include "platform/types.h"
#include "platform/user.h"

// Holds one Value at a time (Value{}, null or 0, for none) and releases it
// with Release.
template <typename Value, void (*Release)(Value)>
class Owned {
public:
    Owned() = default;
    ~Owned() { Reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Value get() const { return value_; }
    // Releases what is held, if anything, and holds `value` instead.
    void Reset(Value value = Value{})
    {
        if (value_ != Value{}) {
            Release(value_);
        }
        value_ = value;
    }

private:
    Value value_{};
};

inline void CloseKernelHandle(HANDLE handle)
{
    CloseHandle(handle);
}

// A timer set with no window belongs to the thread that set it: a Reset that
// kills one runs on that thread.
inline void KillThreadTimer(UINT_PTR id)
{
    KillTimer(nullptr, id);
}

using OwnedHandle = Owned<HANDLE, CloseKernelHandle>;
using OwnedTimer = Owned<UINT_PTR, KillThreadTimer>;
