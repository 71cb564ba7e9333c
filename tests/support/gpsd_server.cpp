#include "support/gpsd_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/host/unique_fd.h"
#include "testkit/temp_folder.h"

extern char** environ;

namespace tavrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using platform::host::UniqueFd;

// A TCP port on the loopback that nobody listens on right now.
int FreeTcpPort()
{
    UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!probe.valid() || ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

UniqueFd ConnectTcp(int port, Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return client;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return UniqueFd();
}

bool Listening(const std::filesystem::path& socketPath)
{
    UniqueFd client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    return ::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Whether one line of gpsd's JSON is a TPV with a fix (mode 2 or 3) from the device.
bool IsFixFrom(const std::string& line, const std::string& device)
{
    return line.find("\"class\":\"TPV\"") != std::string::npos &&
           line.find("\"device\":\"" + device + "\"") != std::string::npos &&
           (line.find("\"mode\":2") != std::string::npos || line.find("\"mode\":3") != std::string::npos);
}

}  // namespace

GpsdServer::GpsdServer(const std::filesystem::path& folder, Opens opens)
    : socket_(folder / "gpsd.sock"), log_(folder / "gpsd.log"), tcpPort_(FreeTcpPort())
{
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                             std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                             std::filesystem::perms::others_exec);
    const std::string port = std::to_string(tcpPort_);
    const std::string pidFile = (folder / "gpsd.pid").string();
    std::vector<std::string> arguments = {"gpsd", "-N", "-D", "2", "-F", socket_.string(), "-S", port, "-P", pidFile};
    if (opens == Opens::AtOnce) {
        arguments.push_back("-n");
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int spawned = posix_spawnp(&pid_, "gpsd", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        return;
    }
    // The socket's file appears when gpsd binds it, a moment before it listens.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline && !Listening(socket_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    running_ = Listening(socket_) && tcpPort_ != 0;
}

GpsdServer::~GpsdServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::string GpsdServer::Log() const
{
    return ReadWholeFile(log_);
}

GpsdWatcher::GpsdWatcher(const GpsdServer& gpsd)
    : socket_(ConnectTcp(gpsd.tcpPort(), Clock::now() + std::chrono::seconds(20)).release())
{
    const std::string watch = "?WATCH={\"enable\":true,\"json\":true}\n";
    if (socket_ >= 0 &&
        ::send(socket_, watch.data(), watch.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(watch.size())) {
        ::close(std::exchange(socket_, -1));
    }
}

GpsdWatcher::~GpsdWatcher()
{
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

void GpsdWatcher::Forget()
{
    char buffer[4096];
    while (::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    received_.clear();
}

bool GpsdWatcher::SawFixFrom(const std::string& device, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (socket_ >= 0) {
        for (std::size_t end; (end = received_.find('\n')) != std::string::npos;) {
            const std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            if (IsFixFrom(line, device)) {
                return true;
            }
        }
        pollfd readable{socket_, POLLIN, 0};
        if (::poll(&readable, 1, MillisecondsUntil(deadline)) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        received_.append(buffer, static_cast<std::size_t>(n));
    }
    return false;
}

std::vector<unsigned char> FixSentence()
{
    const std::string body = "GPRMC,120000.00,A,4807.038,N,01131.000,E,0.0,0.0,081226,,";
    unsigned checksum = 0;
    for (const char c : body) {
        checksum ^= static_cast<unsigned char>(c);
    }
    char sentence[128];
    const int length = std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body.c_str(), checksum);
    return std::vector<unsigned char>(sentence, sentence + length);
}

}  // namespace tavrel::testing
