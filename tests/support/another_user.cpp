#include "support/another_user.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/host/unique_fd.h"

extern char** environ;

namespace tavrel::testing {
namespace {

using platform::host::UniqueFd;

constexpr const char* kNobody = "65534";
// The child opens the file on descriptor 3; its shell reports a failure on
// standard error and exits non-zero.
constexpr const char* kOpenScript = "exec 3<>\"$1\"";

OpenAttempt OpenHere(const std::string& path)
{
    UniqueFd opened(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!opened.valid()) {
        return OpenAttempt{false, std::strerror(errno)};
    }
    return OpenAttempt{true, {}};
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[512];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        text.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    return text;
}

OpenAttempt OpenAsNobody(const std::string& path)
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return OpenAttempt{false, "no pipe for the child's errors"};
    }
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    std::vector<std::string> words = {"setpriv",   std::string("--reuid=") + kNobody,
                                      std::string("--regid=") + kNobody, "--clear-groups",
                                      "sh",        "-c",
                                      kOpenScript, "sh",
                                      path};
    std::vector<char*> arguments;
    for (std::string& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, writing.get(), STDERR_FILENO);
    pid_t child = -1;
    const int failed = ::posix_spawnp(&child, "setpriv", &actions, nullptr, arguments.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return OpenAttempt{false, std::string("setpriv did not start: ") + std::strerror(failed)};
    }
    writing = UniqueFd();
    const std::string errors = ReadAll(reading.get());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool opened = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return OpenAttempt{opened, opened ? std::string() : errors};
}

}  // namespace

OpenAttempt OpenAsAnotherUser(const std::string& path)
{
    return ::geteuid() == 0 ? OpenAsNobody(path) : OpenHere(path);
}

}  // namespace tavrel::testing
