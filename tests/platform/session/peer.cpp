#include "peer.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace tavrel::testing {
namespace {

// Generous: a peer under a sanitizer on a busy machine boots slowly.
constexpr int kTimeoutMs = 20000;

struct Pipe {
    platform::host::UniqueFd read;
    platform::host::UniqueFd write;
};

Pipe NewPipe()
{
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create a pipe");
    }
    return {platform::host::UniqueFd(ends[0]), platform::host::UniqueFd(ends[1])};
}

}  // namespace

Peer::Peer(const std::filesystem::path& deviceRoot)
{
    Pipe input = NewPipe();
    Pipe output = NewPipe();
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, input.read.get(), STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, output.write.get(), STDOUT_FILENO);
    std::string program = SESSION_PEER_PATH;
    std::string root = deviceRoot.string();
    char* arguments[] = {program.data(), root.data(), nullptr};
    const int failed = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, arguments, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        pid_ = -1;
        return;
    }
    toPeer_ = std::move(input.write);
    fromPeer_ = std::move(output.read);
    if (WaitFor("ready ").empty()) {
        Kill();
    }
}

Peer::~Peer()
{
    toPeer_ = platform::host::UniqueFd();
    const int status = Reap();
    // A sanitizer's finding in the peer shows as a failed exit.
    EXPECT_TRUE(status < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << "the peer ended with status " << status;
}

void Peer::Send(const std::string& command)
{
    const std::string line = command + "\n";
    [[maybe_unused]] const ssize_t written = ::write(toPeer_.get(), line.data(), line.size());
}

std::string Peer::WaitFor(const std::string& prefix)
{
    for (;;) {
        const auto found = std::find_if(lines_.begin(), lines_.end(),
                                        [&](const std::string& line) { return line.starts_with(prefix); });
        if (found != lines_.end()) {
            std::string line = *found;
            lines_.erase(found);
            return line;
        }
        if (!ReadMore()) {
            return {};
        }
    }
}

bool Peer::ReadMore()
{
    pollfd readable{fromPeer_.get(), POLLIN, 0};
    if (!fromPeer_.valid() || ::poll(&readable, 1, kTimeoutMs) <= 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t count = ::read(fromPeer_.get(), buffer, sizeof buffer);
    if (count <= 0) {
        return false;
    }
    partial_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
        lines_.push_back(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
    return true;
}

void Peer::Kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Reap();
    }
}

int Peer::Reap()
{
    int status = -1;
    if (pid_ > 0) {
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    return status;
}

}  // namespace tavrel::testing
