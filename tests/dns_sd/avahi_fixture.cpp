#include "avahi_fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace tavrel::dns_sd::testing {
namespace {

// The output of a shell command line, whole.
std::string Output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            text.append(buffer, got);
        }
        ::pclose(pipe);
    }
    return text;
}

// avahi-browse -p writes a name's dots, semicolons and other bytes as \. or \DDD (decimal).
std::string Unescaped(const std::string& label)
{
    std::string plain;
    for (std::size_t at = 0; at < label.size(); ++at) {
        if (label[at] != '\\' || at + 1 == label.size()) {
            plain += label[at];
        } else if (std::isdigit(static_cast<unsigned char>(label[at + 1]))) {
            plain += static_cast<char>(std::stoi(label.substr(at + 1, 3)));
            at += 3;
        } else {
            plain += label[++at];
        }
    }
    return plain;
}

// libdbus reads the system bus's address once a process: every test of one
// process starts its bus at the same path.
std::string BusPath()
{
    return (std::filesystem::temp_directory_path() / ("tavrel-dns-sd-bus-" + std::to_string(::getpid()))).string();
}

}  // namespace

AvahiFixture::AvahiFixture()
{
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + BusPath()).c_str(), 1);
}

AvahiFixture::~AvahiFixture()
{
    StopDaemon();
    if (bus_ > 0) {
        ::kill(bus_, SIGTERM);
    }
    std::filesystem::remove(BusPath());
}

std::string AvahiFixture::MissingProgram()
{
    for (const char* program : {"dbus-daemon", "avahi-daemon", "avahi-browse", "unshare", "ip"}) {
        if (Output(std::string("command -v ") + program).empty()) {
            return program;
        }
    }
    return {};
}

bool AvahiFixture::StartBus()
{
    const auto config = folder_.path() / "bus.conf";
    tavrel::testing::WriteWholeFile(config, "<busconfig><type>system</type><listen>unix:path=" + BusPath() +
        "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
        "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
        "</policy></busconfig>\n");
    bus_ = std::atoi(Output("dbus-daemon --fork --print-pid --config-file=" + config.string()).c_str());
    return bus_ > 0;
}

// The daemon's /run is a tmpfs of its namespace: its pid file and socket stay out of the host's way.
bool AvahiFixture::StartDaemon()
{
    const auto config = folder_.path() / "avahi-daemon.conf";
    tavrel::testing::WriteWholeFile(config, "[server]\nuse-ipv6=no\nallow-interfaces=lo,veth0\nenable-dbus=yes\n"
                                            "[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation=no\n");
    const std::string script = "ip link set lo up && ip link add veth0 type veth peer name veth1 && "
        "ip link set veth1 up && ip link set veth0 up && ip addr add 10.91.0.1/24 dev veth0 && "
        "mount -t tmpfs tmpfs /run && mkdir /run/avahi-daemon && "
        "exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " + config.string();
    const std::string log = (folder_.path() / "avahi-daemon.log").string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    const char* argv[] = {"unshare", "-n", "-m", "sh", "-c", script.c_str(), nullptr};
    const int spawned = ::posix_spawnp(&daemon_, "unshare", &files, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&files);
    return spawned == 0;
}

void AvahiFixture::StopDaemon()
{
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        ::waitpid(daemon_, nullptr, 0);
        daemon_ = -1;
    }
}

std::vector<Browsed> AvahiFixture::Browse(const std::string& type) const
{
    std::vector<Browsed> found;
    std::istringstream lines(Output("avahi-browse -prt " + type + " 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> field;
        std::istringstream fields(line + ';');   // so that an empty TXT is a field too
        for (std::string one; std::getline(fields, one, ';');) {
            field.push_back(one);
        }
        if (field.size() == 10 && field[0] == "=") {
            found.push_back({field[7], Unescaped(field[3]), std::stoi(field[8]), field[9]});
        }
    }
    return found;
}

}  // namespace tavrel::dns_sd::testing
