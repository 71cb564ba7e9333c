#include "mosquitto_broker.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "network/network_test_support.h"
#include "testkit/loopback.h"
#include "testkit/temp_folder.h"

extern char** environ;

namespace tavrel::mqtt::testing {
namespace {

using tavrel::testing::WriteWholeFile;

std::string Listener(std::uint16_t port)
{
    return "listener " + std::to_string(port) + " 127.0.0.1\n";
}

// The broker's configuration: the plain port, the TLS port, who may connect.
// Started as root, mosquitto would become the "mosquitto" user, which may
// not read the test's folder: it stays the user that runs the test.
std::string Configuration(const BrokerSetup& setup)
{
    const passwd* user = ::getpwuid(::getuid());
    std::string text = "user " + std::string(user != nullptr ? user->pw_name : "root") + "\n";
    text += "persistence false\nlog_dest stderr\nper_listener_settings false\n";
    text += setup.passwordFile.empty() ? "allow_anonymous true\n"
                                       : "allow_anonymous false\npassword_file " + setup.passwordFile.string() + "\n";
    text += Listener(setup.port);
    if (setup.tlsPort != 0) {
        text += Listener(setup.tlsPort);
        text += "certfile " + (setup.tlsFolder / "server.crt").string() + "\n";
        text += "keyfile " + (setup.tlsFolder / "server.key").string() + "\n";
    }
    return text;
}

bool TakesConnections(std::uint16_t port)
{
    const int socket = tavrel::testing::ConnectLoopback(port);
    if (socket < 0) {
        return false;
    }
    ::close(socket);
    return true;
}

}  // namespace

MosquittoBroker::MosquittoBroker(const std::filesystem::path& folder, const BrokerSetup& setup)
    : config_(folder / "mosquitto.conf"), log_(folder / "mosquitto.log"), setup_(setup)
{
    WriteWholeFile(config_, Configuration(setup));
    Start();
}

MosquittoBroker::~MosquittoBroker()
{
    Stop();
}

bool MosquittoBroker::Start()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::string program = kBrokerProgram;
    std::string option = "-c";
    std::string config = config_.string();
    char* arguments[] = {program.data(), option.data(), config.data(), nullptr};
    const int error = ::posix_spawn(&pid_, kBrokerProgram, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        return false;
    }
    return network::testing::WaitUntil([this] {
        return TakesConnections(setup_.port) && (setup_.tlsPort == 0 || TakesConnections(setup_.tlsPort));
    });
}

void MosquittoBroker::Stop()
{
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string MosquittoBroker::Log() const
{
    return tavrel::testing::ReadWholeFile(log_);
}

bool MakeTestCertificates(const std::filesystem::path& folder)
{
    const std::string at = folder.string() + "/";
    WriteWholeFile(folder / "server.ext", "subjectAltName=IP:127.0.0.1\n");
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script =
        "openssl req -x509" + key + " -keyout " + at + "ca.key -out " + at + "ca.crt -days 2 -subj /CN=TestCA" +
        " && openssl req" + key + " -keyout " + at + "server.key -out " + at + "server.csr -subj /CN=127.0.0.1" +
        " && openssl x509 -req -in " + at + "server.csr -CA " + at + "ca.crt -CAkey " + at + "ca.key" +
        " -CAcreateserial -out " + at + "server.crt -days 2 -extfile " + at + "server.ext";
    return std::system(("(" + script + ") >" + at + "openssl.log 2>&1").c_str()) == 0;
}

std::filesystem::path MakePasswordFile(const std::filesystem::path& folder, const std::string& user,
                                       const std::string& password)
{
    const std::filesystem::path file = folder / "passwords";
    const std::string command = "mosquitto_passwd -b -c " + file.string() + " " + user + " " + password;
    return std::system(command.c_str()) == 0 ? file : std::filesystem::path();
}

Subscriber::Subscriber(std::uint16_t port, const std::string& filter, const std::string& user,
                       const std::string& password)
    : filter_(filter)
{
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    if (!user.empty()) {
        mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
    }
    mosquitto_connect_callback_set(client_, &Subscriber::OnConnect);
    mosquitto_subscribe_callback_set(client_, &Subscriber::OnSubscribe);
    mosquitto_message_callback_set(client_, &Subscriber::OnMessage);
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
}

Subscriber::~Subscriber()
{
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

std::size_t Subscriber::count() const
{
    const std::lock_guard guard(lock_);
    return messages_.size();
}

std::vector<Message> Subscriber::messages() const
{
    const std::lock_guard guard(lock_);
    return messages_;
}

void Subscriber::OnConnect(mosquitto* client, void* owner, int code)
{
    if (code == 0) {
        mosquitto_subscribe(client, nullptr, static_cast<Subscriber*>(owner)->filter_.c_str(), 1);
    }
}

void Subscriber::OnSubscribe(mosquitto*, void* owner, int, int, const int*)
{
    static_cast<Subscriber*>(owner)->subscribed_ = true;
}

void Subscriber::OnMessage(mosquitto*, void* owner, const mosquitto_message* message)
{
    auto& self = *static_cast<Subscriber*>(owner);
    const std::lock_guard guard(self.lock_);
    self.messages_.push_back(
        {message->topic, std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen))});
}

}  // namespace tavrel::mqtt::testing
