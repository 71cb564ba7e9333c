#include "testkit/network_namespace.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace tavrel::testing {
namespace {

constexpr const char* kCopyVariable = "TAVREL_TEST_NAMESPACE_COPY";

// Runs `change` on a request for the interface `name`; false with errno set.
template <typename Change>
bool ChangeInterface(const char* name, Change change)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    const bool done = change(socket, request);
    const int error = errno;
    ::close(socket);
    errno = error;
    return done;
}

}  // namespace

bool IsNamespaceCopyFor(std::string_view test)
{
    const char* mark = std::getenv(kCopyVariable);
    return mark != nullptr && test == mark;
}

int RunNamespaceCopy(const std::string& test)
{
    std::string program = "/proc/self/exe";
    std::string filter = "--gtest_filter=" + test;
    char* arguments[] = {program.data(), filter.data(), nullptr};
    // This process's environment and the copy's mark.
    std::string mark = std::string(kCopyVariable) + "=" + test;
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.push_back(*variable);
    }
    environment.push_back(mark.data());
    environment.push_back(nullptr);
    pid_t copy = 0;
    if (::posix_spawn(&copy, program.c_str(), nullptr, nullptr, arguments, environment.data()) != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(copy, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool EnterOwnNetworkNamespace()
{
    return ::unshare(CLONE_NEWNET) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0;
}

bool SetInterfaceUp(const char* name, bool up)
{
    return ChangeInterface(name, [up](int socket, ifreq& request) {
        if (::ioctl(socket, SIOCGIFFLAGS, &request) != 0) {
            return false;
        }
        request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
        return ::ioctl(socket, SIOCSIFFLAGS, &request) == 0;
    });
}

bool AddIPv4Address(const char* label, const char* address)
{
    return ChangeInterface(label, [address](int socket, ifreq& request) {
        sockaddr_in ipv4{};
        ipv4.sin_family = AF_INET;
        if (::inet_pton(AF_INET, address, &ipv4.sin_addr) != 1) {
            errno = EINVAL;
            return false;
        }
        std::memcpy(&request.ifr_addr, &ipv4, sizeof ipv4);
        return ::ioctl(socket, SIOCSIFADDR, &request) == 0;
    });
}

bool RemoveIPv4Address(const char* label)
{
    return SetInterfaceUp(label, false);
}

}  // namespace tavrel::testing
