#include "registry/hive_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include "platform/host/interrupted_calls.h"

namespace platform::registry {

void HiveLock::SetFile(const std::filesystem::path& hiveFile)
{
    held_ = host::UniqueFd();
    takers_ = 0;
    lockFile_.clear();
    if (!hiveFile.empty()) {
        lockFile_ = hiveFile;
        lockFile_ += ".lock";
    }
}

bool HiveLock::Take()
{
    if (takers_ == 0 && !lockFile_.empty()) {
        // Read-only is enough for flock(), and lets a user lock a file that
        // someone else made; O_NONBLOCK, so that a FIFO there cannot hang us.
        host::UniqueFd file(::open(lockFile_.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644));
        if (!file.valid() || host::RetryOnInterrupt([&] { return ::flock(file.get(), LOCK_EX); }) != 0) {
            return false;
        }
        held_ = std::move(file);
    }
    ++takers_;
    return true;
}

void HiveLock::Give()
{
    if (takers_ > 0 && --takers_ == 0) {
        held_ = host::UniqueFd();   // closing the file ends the lock
    }
}

}  // namespace platform::registry
