#include "ready_barrier.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace tavrel::testing {
namespace {

std::filesystem::path ReadyFifo(const std::filesystem::path& folder) { return folder / "ready"; }
std::filesystem::path GoFifo(const std::filesystem::path& folder) { return folder / "go"; }

platform::host::UniqueFd MakeFifo(const std::filesystem::path& path)
{
    if (::mkfifo(path.c_str(), 0600) != 0) {
        throw std::runtime_error("cannot make the FIFO " + path.string());
    }
    // Read and write: opening never blocks, and the FIFO never reaches its end.
    platform::host::UniqueFd fifo(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fifo.valid()) {
        throw std::runtime_error("cannot open the FIFO " + path.string());
    }
    return fifo;
}

bool Transfer(int fd, bool write)
{
    char byte = 'x';
    for (;;) {
        const ssize_t count = write ? ::write(fd, &byte, 1) : ::read(fd, &byte, 1);
        if (count == 1) {
            return true;
        }
        if (count == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

ReadyBarrier::ReadyBarrier(const std::filesystem::path& folder) : folder_(folder)
{
    std::filesystem::create_directories(folder);
    ready_ = MakeFifo(ReadyFifo(folder));
    go_ = MakeFifo(GoFifo(folder));
}

bool ReadyBarrier::WaitUntilReady(int count, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int ready = 0; ready < count;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd readable{ready_.get(), POLLIN, 0};
        const int polled = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno != EINTR) {
            return false;
        }
        if (polled > 0 && Transfer(ready_.get(), false)) {
            ++ready;
        }
    }
    return true;
}

void ReadyBarrier::Release(int count)
{
    for (int i = 0; i < count; ++i) {
        Transfer(go_.get(), true);
    }
}

bool WaitAtReadyBarrier(const std::filesystem::path& folder)
{
    const platform::host::UniqueFd go(::open(GoFifo(folder).c_str(), O_RDONLY | O_CLOEXEC));
    const platform::host::UniqueFd ready(::open(ReadyFifo(folder).c_str(), O_WRONLY | O_CLOEXEC));
    return go.valid() && ready.valid() && Transfer(ready.get(), true) && Transfer(go.get(), false);
}

}  // namespace tavrel::testing
