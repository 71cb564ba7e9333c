// An answer socket's file and thread: made in the device's run folder, with a
// stale file replaced and a live one left alone, and removed at the end.
#include "platform/answer_socket.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/host/interrupted_calls.h"
#include "platform/host/wake_signal.h"
#include "session/answer_loop.h"
#include "session/device_root.h"
#include "session/local_address.h"
#include "session/run_files.h"

namespace platform {

using host::UniqueFd;
using session::AsSocketAddress;

struct AnswerSocket::State {
    std::filesystem::path path;
    struct stat file {};   // the socket file as bound, to remove only ours
    UniqueFd listener;
    host::WakeSignal wake;
    std::thread thread;
};

namespace {

// Backlog of connections that wait to be accepted.
constexpr int kWaitingConnections = 16;

UniqueFd NewLocalSocket()
{
    return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

// Whether a live program listens at the address: a stale socket file refuses
// the connection, a live one takes it (or has a full backlog).
bool SomeoneListens(const sockaddr_un& address)
{
    const UniqueFd probe = NewLocalSocket();
    if (!probe.valid()) {
        return false;
    }
    const int result =
        host::RetryOnInterrupt([&] { return ::connect(probe.get(), AsSocketAddress(address), sizeof address); });
    return result == 0 || errno == EAGAIN || errno == EINPROGRESS;
}

bool Bind(const UniqueFd& listener, const sockaddr_un& address)
{
    return ::bind(listener.get(), AsSocketAddress(address), sizeof address) == 0;
}

// Binds the socket at its path, replacing a stale socket file; 0 or errno.
int BindReplacingStale(const UniqueFd& listener, const std::filesystem::path& path, const sockaddr_un& address)
{
    if (Bind(listener, address)) {
        return 0;
    }
    if (errno != EADDRINUSE) {
        return errno;
    }
    if (SomeoneListens(address)) {
        return EADDRINUSE;
    }
    struct stat found {};
    if (::lstat(path.c_str(), &found) == 0 && !S_ISSOCK(found.st_mode)) {
        return EEXIST;   // something else is in the way: not ours to remove
    }
    // Left by a program that ended without removing it.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return errno;
    }
    return Bind(listener, address) ? 0 : errno;
}

// Makes the socket file and the listening socket; 0 or errno.
int Listen(AnswerSocket::State& state)
{
    std::error_code failure;
    std::filesystem::create_directories(state.path.parent_path(), failure);
    if (failure) {
        return failure.value();
    }
    sockaddr_un address{};
    if (!session::LocalAddressOf(state.path, address)) {
        return errno;
    }
    state.listener = NewLocalSocket();
    if (!state.listener.valid()) {
        return errno;
    }
    if (const int error = BindReplacingStale(state.listener, state.path, address); error != 0) {
        return error;
    }
    if (::lstat(state.path.c_str(), &state.file) != 0 || ::listen(state.listener.get(), kWaitingConnections) != 0) {
        const int error = errno;
        ::unlink(state.path.c_str());
        return error;
    }
    return 0;
}

}  // namespace

std::filesystem::path AnswerSocketPath(const std::filesystem::path& deviceRoot, std::string_view name)
{
    std::string file(name);
    file += ".sock";
    return session::RunFolder(deviceRoot) / file;
}

std::unique_ptr<AnswerSocket> AnswerSocket::Open(std::string_view name, Answerer answerer, int& error)
{
    const std::filesystem::path root = session::DeviceRoot();
    if (root.empty()) {
        error = ENODEV;
        return nullptr;
    }
    auto state = std::make_unique<State>();
    if (!state->wake.valid()) {
        error = errno;
        return nullptr;
    }
    state->path = AnswerSocketPath(root, name);
    error = Listen(*state);
    if (error != 0) {
        return nullptr;
    }
    session::AnswerLoop loop(state->listener.get(), state->wake.fd(), std::move(answerer));
    state->thread = std::thread([loop = std::move(loop)]() mutable {
        ::pthread_setname_np(::pthread_self(), "answer-socket");
        loop.Run();
    });
    return std::make_unique<AnswerSocket>(std::move(state));
}

AnswerSocket::AnswerSocket(std::unique_ptr<State> state) : state_(std::move(state)) {}

AnswerSocket::~AnswerSocket()
{
    state_->wake.Wake();
    state_->thread.join();
    // Removed only while the name still leads to the file this socket made.
    struct stat now {};
    if (::lstat(state_->path.c_str(), &now) == 0 && now.st_dev == state_->file.st_dev &&
        now.st_ino == state_->file.st_ino) {
        ::unlink(state_->path.c_str());
    }
}

const std::filesystem::path& AnswerSocket::path() const
{
    return state_->path;
}

}  // namespace platform
