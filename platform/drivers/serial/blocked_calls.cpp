#include "drivers/serial/blocked_calls.h"

#include <algorithm>

namespace platform::serial {

CallScope::CallScope(BlockedCalls& calls, CallKind kind) : calls_(calls), kind_(kind)
{
    std::lock_guard guard(calls_.lock_);
    if (calls_.closing_) {
        reason_ = WakeReason::Closing;
        return;
    }
    calls_.active_.push_back(this);
    entered_ = true;
}

CallScope::~CallScope()
{
    std::lock_guard guard(calls_.lock_);
    std::erase(calls_.active_, this);
}

int CallScope::WakeDescriptor()
{
    std::lock_guard guard(calls_.lock_);
    if (!wake_ || !wake_->valid()) {
        wake_.emplace();
        if (wake_->valid() && reason_ != WakeReason::None) {
            Signal(reason_);
        }
    }
    return wake_->fd();
}

WakeReason CallScope::reason() const
{
    std::lock_guard guard(calls_.lock_);
    return reason_;
}

void CallScope::Signal(WakeReason reason)
{
    // Closing outranks the other reasons: a call being closed fails.
    if (reason_ != WakeReason::Closing) {
        reason_ = reason;
    }
    if (wake_ && wake_->valid()) {
        wake_->Wake();
    }
}

void BlockedCalls::Wake(std::initializer_list<CallKind> kinds, WakeReason reason)
{
    std::lock_guard guard(lock_);
    for (CallScope* call : active_) {
        if (std::find(kinds.begin(), kinds.end(), call->kind_) != kinds.end()) {
            call->Signal(reason);
        }
    }
}

void BlockedCalls::Close()
{
    std::lock_guard guard(lock_);
    closing_ = true;
    for (CallScope* call : active_) {
        call->Signal(WakeReason::Closing);
    }
}

bool BlockedCalls::closing() const
{
    std::lock_guard guard(lock_);
    return closing_;
}

}  // namespace platform::serial
