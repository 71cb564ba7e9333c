#include "line_watcher.h"

#include <cerrno>
#include <cstdint>
#include <sys/epoll.h>
#include <system_error>

#include "platform/host/interrupted_calls.h"

namespace quorvel {
namespace {

[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// The pty's room for output is also looked at this often while bytes wait,
// in case a wake-up for it is missed.
constexpr int kRoomRetryMilliseconds = 20;

int Watch(int epoll, int operation, int fd, std::uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    return ::epoll_ctl(epoll, operation, fd, &event);
}

}  // namespace

LineWatcher::LineWatcher(int master, Handler onActivity, Failure onFailure)
    : master_(master),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      onActivity_(std::move(onActivity)),
      onFailure_(std::move(onFailure))
{
    if (!epoll_.valid() || !wake_.valid() || !resume_.valid()) {
        ThrowErrno("cannot create the pseudo-terminal's watcher");
    }
    if (Watch(epoll_.get(), EPOLL_CTL_ADD, wake_.fd(), EPOLLIN) != 0 ||
        Watch(epoll_.get(), EPOLL_CTL_ADD, resume_.fd(), EPOLLIN) != 0) {
        ThrowErrno("cannot watch the pseudo-terminal");
    }
    // Edge-triggered: while nobody has the slave open the master reports a
    // hangup for as long as that lasts, so a level-triggered wait would return
    // at once, over and over. This way the hangup is reported once, when the
    // last consumer closes, and the thread sleeps until the next wake-up.
    if (Watch(epoll_.get(), EPOLL_CTL_ADD, master, EPOLLIN | EPOLLET) != 0) {
        ThrowErrno("cannot watch the pseudo-terminal");
    }
    thread_ = std::thread(&LineWatcher::Run, this);
}

LineWatcher::~LineWatcher()
{
    if (!wake_.Wake()) {
        onFailure_("cannot wake the pseudo-terminal's watcher", errno);
    }
    thread_.join();
}

void LineWatcher::WatchForRoom(bool watch)
{
    if (watchingForRoom_.exchange(watch) == watch) {
        return;
    }
    // Changing the events looks at the pty again, so room that is there
    // already is reported at once.
    const std::uint32_t events = EPOLLIN | EPOLLET | (watch ? EPOLLOUT : 0u);
    if (Watch(epoll_.get(), EPOLL_CTL_MOD, master_, events) != 0) {
        onFailure_("cannot watch the pseudo-terminal for room", errno);
    }
}

void LineWatcher::Resume()
{
    if (!resume_.Wake()) {
        onFailure_("cannot wake the pseudo-terminal's watcher", errno);
    }
}

void LineWatcher::Run()
{
    bool inputMayRemain = false;
    while (WaitForActivity(inputMayRemain)) {
        inputMayRemain = onActivity_();
    }
}

// False when the thread is to end. While consumer input may remain, it only
// looks whether it is to end and returns at once.
bool LineWatcher::WaitForActivity(bool inputMayRemain)
{
    epoll_event events[3];
    for (;;) {
        const int timeout = inputMayRemain ? 0 : watchingForRoom_ ? kRoomRetryMilliseconds : -1;
        const int count =
            platform::host::RetryOnInterrupt([&] { return ::epoll_wait(epoll_.get(), events, 3, timeout); });
        if (count < 0) {
            onFailure_("the pseudo-terminal's watcher stopped", errno);
            return false;
        }
        for (int i = 0; i < count; ++i) {
            if (events[i].data.fd == wake_.fd()) {
                return false;
            }
            if (events[i].data.fd == resume_.fd()) {
                resume_.Drain();   // before the handler runs, so that no later Resume is lost
            }
        }
        if (count > 0 || inputMayRemain || watchingForRoom_) {
            return true;
        }
    }
}

}  // namespace quorvel
