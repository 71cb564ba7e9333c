// The contexts that a driver hands out (Init's device, Open's open) and
// takes back as numbers. Looking them up in a table means that an unknown or
// stale context is refused instead of being followed, and a call in progress
// keeps its object alive even if Close races with it.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/streamdriver.h"

namespace platform::serial {

template <typename T>
class ContextTable {
public:
    DRIVER_CONTEXT Insert(std::shared_ptr<T> object)
    {
        // The address is unique while the object lives, and never 0.
        const auto context = reinterpret_cast<DRIVER_CONTEXT>(object.get());
        std::lock_guard guard(lock_);
        live_.emplace(context, std::move(object));
        return context;
    }

    std::shared_ptr<T> Find(DRIVER_CONTEXT context) const
    {
        std::lock_guard guard(lock_);
        const auto found = live_.find(context);
        return found != live_.end() ? found->second : nullptr;
    }

    std::shared_ptr<T> Remove(DRIVER_CONTEXT context)
    {
        std::lock_guard guard(lock_);
        const auto found = live_.find(context);
        if (found == live_.end()) {
            return nullptr;
        }
        std::shared_ptr<T> object = std::move(found->second);
        live_.erase(found);
        return object;
    }

private:
    mutable std::mutex lock_;
    std::map<DRIVER_CONTEXT, std::shared_ptr<T>> live_;
};

}  // namespace platform::serial
