#include "line_watcher.h"

#include <cerrno>
#include <cstdint>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>

namespace quorvel {
namespace {

[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

void Watch(int epoll, int fd, std::uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
        ThrowErrno("cannot watch the pseudo-terminal");
    }
}

}  // namespace

LineWatcher::LineWatcher(int master, Handler onActivity, Failure onFailure)
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      onActivity_(std::move(onActivity)),
      onFailure_(std::move(onFailure))
{
    if (!epoll_.valid() || !wake_.valid()) {
        ThrowErrno("cannot create the pseudo-terminal's watcher");
    }
    Watch(epoll_.get(), wake_.get(), EPOLLIN);
    // Edge-triggered: while nobody has the slave open the master reports a
    // hangup for as long as that lasts, so a level-triggered wait would return
    // at once, over and over. This way the hangup is reported once, when the
    // last consumer closes, and the thread sleeps until the next wake-up.
    Watch(epoll_.get(), master, EPOLLIN | EPOLLET);
    thread_ = std::thread(&LineWatcher::Run, this);
}

LineWatcher::~LineWatcher()
{
    const std::uint64_t one = 1;
    if (::write(wake_.get(), &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        onFailure_("cannot wake the pseudo-terminal's watcher", errno);
    }
    thread_.join();
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
    epoll_event events[2];
    for (;;) {
        const int count = ::epoll_wait(epoll_.get(), events, 2, inputMayRemain ? 0 : -1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            onFailure_("the pseudo-terminal's watcher stopped", errno);
            return false;
        }
        for (int i = 0; i < count; ++i) {
            if (events[i].data.fd == wake_.get()) {
                return false;
            }
        }
        if (count > 0 || inputMayRemain) {
            return true;
        }
    }
}

}  // namespace quorvel
