// Which port serves a link. While a port's link is published the port holds
// a lock on a file beside it, "<folder>/.COM5.lock", and the kernel lets the
// lock go when the port's process ends however it ends (a crash, SIGKILL), so
// a link whose lock nobody holds is stale, whatever became of its maker, and
// one whose lock is held belongs to a live port: of another Tavrel device
// when two devices share a port folder.
//
// The lock is an open file description lock (F_OFD_SETLK): it is the open
// file's, not the process's, so two ports in one process exclude each other
// as two processes do, and anyone may ask whether it is held (F_OFD_GETLK)
// without taking it, so that asking never makes the port look taken to the
// port that is about to publish it.
#pragma once

#include <filesystem>

#include "platform/host/unique_fd.h"

namespace quorvel {

class PortLock {
public:
    // The lock file of the link at `link`.
    static std::filesystem::path FileFor(const std::filesystem::path& link);
    // Whether a live port holds the lock of the link at `link` now.
    static bool IsHeld(const std::filesystem::path& link);

    PortLock() = default;
    ~PortLock() { Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of the link at `link`, creating its file; false when a
    // live port holds it. Throws std::system_error when the file cannot be
    // made or locked.
    bool TryTake(const std::filesystem::path& link);
    // Removes the lock file (still under the lock, so that nobody takes a
    // lock on a file that is going) and lets the lock go. Nothing when not held.
    void Release();

    bool held() const { return file_.valid(); }

private:
    platform::host::UniqueFd file_;
    std::filesystem::path path_;
};

}  // namespace quorvel
