// The library that tavrel-compat preloads: it takes the place of ioctl() and
// close() in the program. ioctl() answers the modem-line requests on
// Tavrel's ports (modem_answers.h) and passes every other call, unchanged and
// with errno as the system left it, to the next ioctl() (the C library's, or
// another preloaded library's); close() forgets the lines set on a
// descriptor before passing on.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "compat_contract.h"
#include "line_table.h"
#include "modem_answers.h"
#include "port_folders.h"

namespace {

using IoctlCall = int (*)(int, unsigned long, ...);
using CloseCall = int (*)(int);

std::atomic<IoctlCall> nextIoctl{nullptr};
std::atomic<CloseCall> nextClose{nullptr};

// The next definition of `name` after this library, looked up once (at load,
// or at a first call that comes before it); racing look-ups find the same.
template <typename Call>
Call Next(std::atomic<Call>& next, const char* name)
{
    Call call = next.load(std::memory_order_acquire);
    if (call == nullptr) {
        call = reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
        next.store(call, std::memory_order_release);
    }
    return call;
}

int PassIoctl(int fd, unsigned long request, void* argument)
{
    if (const IoctlCall call = Next(nextIoctl, "ioctl")) {
        return call(fd, request, argument);
    }
    return static_cast<int>(::syscall(SYS_ioctl, fd, request, argument));
}

[[gnu::constructor]] void LoadAtStart()
{
    tavrel::compat::LoadPortFolders(std::getenv(tavrel::compat::kPortFoldersVariable));
    Next(nextIoctl, "ioctl");
    Next(nextClose, "close");
}

}  // namespace

extern "C" [[gnu::visibility("default")]] int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);

    const int callersErrno = errno;
    const tavrel::compat::Answer answer = tavrel::compat::AnswerModemRequest(fd, request, argument);
    errno = answer.given && answer.result < 0 ? answer.error : callersErrno;
    return answer.given ? answer.result : PassIoctl(fd, request, argument);
}

extern "C" [[gnu::visibility("default")]] int close(int fd)
{
    tavrel::compat::ForgetLines(fd);
    if (const CloseCall call = Next(nextClose, "close")) {
        return call(fd);
    }
    return static_cast<int>(::syscall(SYS_close, fd));
}
