#include "avahi_fixture.h"

#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tavrel::dns_sd::testing {
namespace {

std::string Output(const std::string& command)
{
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;) {
        text += static_cast<char>(c);
    }
    return pipe && ::pclose(pipe) == 0 ? text : std::string();
}

// libdbus reads the system bus's address once a process: each test of one process starts its bus there.
const std::string kBus = "/tmp/tavrel-dns-sd-bus-" + std::to_string(::getpid());

// avahi-browse -p writes a name's special bytes as \DDD (decimal) or \c.
std::string Unescaped(const std::string& label)
{
    std::string plain;
    for (std::size_t at = 0; at < label.size(); ++at) {
        const bool decimal = label[at] == '\\' && std::isdigit(static_cast<unsigned char>(label[at + 1]));
        plain += decimal ? static_cast<char>(std::stoi(label.substr(at + 1, 3))) : label[at += label[at] == '\\'];
        at += decimal ? 3 : 0;
    }
    return plain;
}

}  // namespace

AvahiFixture::AvahiFixture() { ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + kBus).c_str(), 1); }

AvahiFixture::~AvahiFixture()
{
    StopDaemon();
    StopBus();
}

std::string AvahiFixture::Unusable()
{
    if (Output("for p in dbus-daemon avahi-daemon avahi-browse unshare ip; do command -v $p || exit 1; done").empty()) {
        return "dbus-daemon, avahi-daemon, avahi-browse, unshare or ip is not installed";
    }
    return Output("unshare -n -m echo yes").empty() ? "this host refuses network and mount namespaces" : "";
}

bool AvahiFixture::StartBus()
{
    const auto config = folder_.path() / "bus.conf";
    tavrel::testing::WriteWholeFile(config, "<busconfig><type>system</type><listen>unix:path=" + kBus +
        "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
        "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
    bus_ = std::atoi(Output("dbus-daemon --fork --print-pid --config-file=" + config.string()).c_str());
    return bus_ > 0;
}

void AvahiFixture::StopBus()
{
    if (bus_ > 0) {
        ::kill(bus_, SIGTERM);
        ::unlink(kBus.c_str());
        bus_ = 0;
    }
}

// The daemon's /run is a tmpfs of its own namespace: its pid file and socket stay out of the host's way.
bool AvahiFixture::StartDaemon()
{
    const auto config = folder_.path() / "avahi-daemon.conf";
    tavrel::testing::WriteWholeFile(config, "[server]\nuse-ipv6=no\nallow-interfaces=lo,veth0\n"
                                            "[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation=no\n");
    daemon_ = std::atoi(Output("unshare -n -m sh -c 'ip link set lo up && ip link add veth0 type veth peer veth1 && "
        "ip link set veth1 up && ip link set veth0 up && ip addr add 10.91.0.1/24 dev veth0 && mount -t tmpfs x /run "
        "&& mkdir /run/avahi-daemon && exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " +
        config.string() + "' >>" + (folder_.path() / "daemon.log").string() + " 2>&1 & echo $!").c_str());
    return daemon_ > 0;
}

// The daemon is the shell's child, not ours: it is gone when its name leaves the bus.
void AvahiFixture::StopDaemon()
{
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        daemon_ = 0;
    }
}

std::vector<Browsed> AvahiFixture::Browse() const
{
    std::vector<Browsed> found;
    std::istringstream lines(Output("avahi-browse -prt _nmea-0183._tcp 2>/dev/null"));
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
