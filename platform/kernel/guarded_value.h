// A process-wide value that threads replace and read as a whole, each under
// the value's own lock, so that a reader never sees half of a replacement.
#pragma once

#include <mutex>
#include <utility>

namespace platform {

template <typename T>
class GuardedValue {
public:
    void Set(T value)
    {
        std::lock_guard guard(lock_);
        value_ = std::move(value);
    }
    T Get() const
    {
        std::lock_guard guard(lock_);
        return value_;
    }

private:
    mutable std::mutex lock_;
    T value_{};
};

}  // namespace platform
