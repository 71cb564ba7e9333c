#include "testkit/mqtt_broker.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testkit/loopback.h"
#include "testkit/temp_folder.h"

extern char** environ;

namespace tavrel::testing {

namespace {

bool Accepts(std::uint16_t port)
{
    const int socket = ConnectLoopback(port);
    return socket >= 0 && ::close(socket) == 0;
}

}  // namespace

std::string MqttListener(std::uint16_t port)
{
    return "listener " + std::to_string(port) + " 127.0.0.1\n";
}

MqttBroker::MqttBroker(const std::filesystem::path& folder, const std::string& configuration)
    : config_(folder / "mosquitto.conf"), log_(folder / "mosquitto.log")
{
    const passwd* user = ::getpwuid(::getuid());
    WriteWholeFile(config_, "user " + std::string(user != nullptr ? user->pw_name : "root") +
                                "\npersistence false\nlog_dest stderr\nmax_queued_messages 0\n" + configuration);
}

bool MqttBroker::Start(std::uint16_t port)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::string program = kMqttBrokerProgram, option = "-c", config = config_.string();
    char* arguments[] = {program.data(), option.data(), config.data(), nullptr};
    const bool started = ::posix_spawn(&pid_, kMqttBrokerProgram, &actions, nullptr, arguments, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (started && !Accepts(port)) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return started;
}

void MqttBroker::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::string MqttBroker::Log() const
{
    return ReadWholeFile(log_);
}

}  // namespace tavrel::testing
