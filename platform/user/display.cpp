// The display in use.
#include <mutex>

#include "kernel/never_destroyed.h"
#include "platform/display.h"

namespace platform {
namespace {

struct Current {
    std::mutex lock;
    std::shared_ptr<Display> display;
    HostIdentity identity;
};

Current& TheCurrent()
{
    static NeverDestroyed<Current> current;
    return current.get();
}

}  // namespace

void SetDisplay(std::shared_ptr<Display> display)
{
    Current& current = TheCurrent();
    std::lock_guard guard(current.lock);
    current.display = std::move(display);
}

std::shared_ptr<Display> CurrentDisplay()
{
    Current& current = TheCurrent();
    std::lock_guard guard(current.lock);
    if (current.display == nullptr) {
        current.display = std::make_shared<HeadlessDisplay>();
    }
    return current.display;
}

void SetHostIdentity(HostIdentity identity)
{
    Current& current = TheCurrent();
    {
        std::lock_guard guard(current.lock);
        current.identity = std::move(identity);
    }
    CurrentDisplay()->IdentityChanged();
}

HostIdentity CurrentHostIdentity()
{
    Current& current = TheCurrent();
    std::lock_guard guard(current.lock);
    return current.identity;
}

}  // namespace platform
