#include "drivers/serial/host_serial_watch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "drivers/serial/device_wait.h"
#include "platform/host/interrupted_calls.h"

namespace platform::serial {
namespace {

namespace fs = std::filesystem;

// A node or link made, removed or renamed into place (udev renames its links
// into place). The folders' own end comes as IN_IGNORED, which needs no asking.
constexpr std::uint32_t kFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

bool WatchFolder(int inotify, const fs::path& folder)
{
    return ::inotify_add_watch(inotify, folder.c_str(), kFolderChanges) >= 0;
}

// Watches devRoot, and serial/ and serial/by-id/ under it when they exist.
// Watching a folder again changes nothing, so this runs after every event:
// a folder that appeared is watched from then on. A link made in it before
// its watch began is not missed either: its folder's own appearance was an
// event, and the call back after it reads everything afresh.
bool WatchFolders(int inotify, const fs::path& devRoot)
{
    if (!WatchFolder(inotify, devRoot)) {
        return false;
    }
    if (WatchFolder(inotify, devRoot / "serial")) {
        WatchFolder(inotify, devRoot / "serial" / "by-id");
    }
    return true;
}

// Reads every event waiting: which ones came does not matter, only that
// something did, since the call back looks at everything again.
void DrainEvents(int inotify)
{
    alignas(inotify_event) char buffer[4096];
    while (host::RetryOnInterrupt([&] { return ::read(inotify, buffer, sizeof buffer); }) > 0) {
    }
}

}  // namespace

std::unique_ptr<HostSerialWatch> HostSerialWatch::Start(const fs::path& devRoot, Changed changed,
                                                        Settling settling, std::string& problem)
{
    host::UniqueFd inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    host::WakeSignal wake;
    if (!inotify.valid() || !wake.valid() || !WatchFolders(inotify.get(), devRoot)) {
        problem = "cannot follow the serial devices of " + devRoot.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<HostSerialWatch>(
        new HostSerialWatch(devRoot, std::move(changed), settling, std::move(inotify), std::move(wake)));
}

HostSerialWatch::HostSerialWatch(fs::path devRoot, Changed changed, Settling settling, host::UniqueFd inotify,
                                 host::WakeSignal wake)
    : devRoot_(std::move(devRoot)),
      changed_(std::move(changed)),
      settling_(settling),
      inotify_(std::move(inotify)),
      wake_(std::move(wake)),
      thread_([this] { Run(); })
{
}

HostSerialWatch::~HostSerialWatch()
{
    wake_.Wake();
    thread_.join();
}

void HostSerialWatch::Run()
{
    ::pthread_setname_np(::pthread_self(), "serial-watch");
    Deadline callBackAt;   // empty while nothing is settling
    Clock::time_point burstBegan;
    for (;;) {
        switch (WaitForDevice(inotify_.get(), POLLIN, wake_.fd(), callBackAt)) {
        case WaitResult::Ready: {
            const Clock::time_point now = Clock::now();
            if (!callBackAt) {
                burstBegan = now;
            }
            DrainEvents(inotify_.get());
            WatchFolders(inotify_.get(), devRoot_);
            callBackAt = std::min(now + settling_.quiet, burstBegan + settling_.longest);
            break;
        }
        case WaitResult::TimedOut:
            callBackAt.reset();
            changed_();
            break;
        case WaitResult::Woken: return;
        case WaitResult::Hangup:
        case WaitResult::Failed:
            std::fprintf(stderr, "platform: the serial devices of %s are no longer followed: %s\n", devRoot_.c_str(),
                         std::strerror(errno));
            return;
        }
    }
}

}  // namespace platform::serial
