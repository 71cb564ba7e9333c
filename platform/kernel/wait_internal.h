// Waiting on kernel objects, shared by the wait calls and the objects.
#pragma once

#include <chrono>
#include <condition_variable>

namespace platform::kernel {

std::condition_variable& WaitCondition();

}  // namespace platform::kernel
