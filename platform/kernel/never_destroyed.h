// A process-wide object that is never destroyed, for state that threads may
// still touch while the process exits (a detached thread signalling its end
// after main has returned must not find the condition variable destroyed).
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace platform {

template <typename T>
class NeverDestroyed {
public:
    template <typename... Args>
    explicit NeverDestroyed(Args&&... args)
    {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) std::byte storage_[sizeof(T)];
};

}  // namespace platform
