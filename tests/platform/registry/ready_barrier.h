// Starts cooperating processes together once each has done its own set-up.
// Each process announces that it is ready and then
// waits; the test lets them all go at once when every one is ready. Two FIFOs
// in a folder carry it, so that a process finds them by the folder's path.
// The test holds both FIFOs open for reading and writing, so that no open
// blocks and a process that comes late still finds its place.
#pragma once

#include <chrono>
#include <filesystem>

#include "platform/host/unique_fd.h"

namespace tavrel::testing {

// The test's side.
class ReadyBarrier {
public:
    // Makes the folder and its two FIFOs; throws when that fails.
    explicit ReadyBarrier(const std::filesystem::path& folder);
    ReadyBarrier(const ReadyBarrier&) = delete;
    ReadyBarrier& operator=(const ReadyBarrier&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    // True once `count` processes are waiting; false after `timeout`.
    bool WaitUntilReady(int count, std::chrono::milliseconds timeout);
    void Release(int count);

private:
    std::filesystem::path folder_;
    platform::host::UniqueFd ready_;
    platform::host::UniqueFd go_;
};

// A process's side: announces it is ready and waits to be let go. False when
// the barrier cannot be reached or the test ended without letting it go.
bool WaitAtReadyBarrier(const std::filesystem::path& folder);

}  // namespace tavrel::testing
