#include "relay/network_outputs.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "network/address_allow_list.h"
#include "network/tcp_server.h"
#include "network/udp_sender.h"
#include "network/udp_target.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "relay/relay_control.h"
#include "relay/talk_back.h"
#include "state/app_settings.h"

namespace {

// One start's network outputs, made whole before they are put in place, so
// that the relay never sees a half-made set.
struct NetworkOutputSet {
    std::unique_ptr<tavrel::network::TcpServer> tcp;
    bool tcpAnyAddress = false;
    std::string tcpFailure;
    std::unique_ptr<tavrel::network::UdpSender> udp;
    std::string udpFailure;
};

struct NetworkOutputsRecord {
    // Guards everything below. The relay holds it to hand a chunk over, and
    // a health reader to copy the counts; outputs are made and ended outside it.
    std::mutex mutex;
    bool active = false;   // between StartNetworkOutputs and StopNetworkOutputs
    NetworkOutputSet set;
    NetworkSettings settings;   // what the next outputs are made with
};

NetworkOutputsRecord NetworkOutputs;

void Report(const std::string& failure)
{
    OutputDebugStringW(platform::ToUtf16("Network output not started: " + failure + "\n").c_str());
}

void StartTcpServer(const NetworkSettings& settings, NetworkOutputSet& set)
{
    if (settings.tcpPort == 0) {
        return;
    }
    set.tcpAnyAddress = settings.tcpAnyAddress != 0;
    if (settings.tcpPort > Setting(SettingId::TcpPort).highest) {
        set.tcpFailure = "TCP server: TcpPort " + std::to_string(settings.tcpPort) + " is not a port";
        Report(set.tcpFailure);
        return;
    }
    tavrel::network::TcpServerOptions options;
    options.port = static_cast<std::uint16_t>(settings.tcpPort);
    options.listenOn = set.tcpAnyAddress ? tavrel::network::ListenOn::AnyAddress : tavrel::network::ListenOn::Loopback;
    if (AppSettings.tcpOptions.talk != TalkMode::Off) {
        options.talk = TalkFromTcpClient;
    }
    std::string reason;
    if (const auto allow = tavrel::network::AddressAllowList::Parse(platform::ToUtf8(settings.tcpAllow), reason)) {
        options.allow = *allow;
        set.tcp = tavrel::network::TcpServer::Start(options, set.tcpFailure);
    } else {
        set.tcpFailure = "TcpAllow: " + reason;
    }
    if (set.tcp == nullptr) {
        set.tcpFailure = "TCP server: " + set.tcpFailure;
        Report(set.tcpFailure);
    }
}

void StartUdpSender(const NetworkSettings& settings, NetworkOutputSet& set)
{
    if (settings.udpTarget.empty()) {
        return;
    }
    std::string failure;
    if (const auto target = tavrel::network::ParseUdpTarget(platform::ToUtf8(settings.udpTarget), failure)) {
        const tavrel::network::MulticastOptions multicast{static_cast<int>(settings.udpTtl),
                                                          platform::ToUtf8(settings.udpInterface)};
        set.udp = tavrel::network::UdpSender::Start(*target, failure, multicast);
    }
    if (set.udp == nullptr) {
        set.udpFailure = "UDP output: " + failure;
        Report(set.udpFailure);
    }
}

// The outputs that the settings handed over ask for; a failed one has its failure.
NetworkOutputSet MakeOutputs()
{
    NetworkSettings settings;
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        settings = NetworkOutputs.settings;
    }
    NetworkOutputSet set;
    StartTcpServer(settings, set);
    StartUdpSender(settings, set);
    return set;
}

bool Failed(const NetworkOutputSet& set)
{
    return !set.tcpFailure.empty() || !set.udpFailure.empty();
}

// Puts `set` in place while the run is active; what it replaces (or `set`
// itself, when the run has ended meanwhile) ends outside the lock, so a
// closing server never holds up the relay.
void PutInPlace(NetworkOutputSet set)
{
    const bool failed = Failed(set);
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        if (!NetworkOutputs.active) {
            return;
        }
        std::swap(NetworkOutputs.set, set);
    }
    NotifyRelayHealthChanged(failed ? kNetworkOutputFailed : 0);
}

}  // namespace

void StartNetworkOutputs()
{
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        NetworkOutputs.active = true;
    }
    PutInPlace(MakeOutputs());
}

void DeliverToNetwork(std::span<const unsigned char> chunk, bool toTcp, bool toUdp)
{
    const std::lock_guard lock(NetworkOutputs.mutex);
    if (toTcp && NetworkOutputs.set.tcp != nullptr) {
        NetworkOutputs.set.tcp->Deliver(chunk);
    }
    if (toUdp && NetworkOutputs.set.udp != nullptr) {
        NetworkOutputs.set.udp->Send(chunk);
    }
}

void StopNetworkOutputs()
{
    NetworkOutputSet ended;
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        NetworkOutputs.active = false;
        std::swap(NetworkOutputs.set, ended);
    }
}

void UseNetworkSettings(const NetworkSettings& settings)
{
    NetworkOutputSet ended;
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        NetworkOutputs.settings = settings;
        if (!NetworkOutputs.active) {
            return;
        }
        std::swap(NetworkOutputs.set, ended);
    }
    // The old server lets go of its port before the new one takes it.
    ended = NetworkOutputSet{};
    PutInPlace(MakeOutputs());
}

NetworkHealth TakeNetworkHealth()
{
    NetworkHealth health;
    const std::lock_guard lock(NetworkOutputs.mutex);
    const NetworkOutputSet& set = NetworkOutputs.set;
    health.tcpAnyAddress = set.tcpAnyAddress;
    health.tcpFailure = set.tcpFailure;
    if (set.tcp != nullptr) {
        health.tcpPort = set.tcp->port();
        health.tcp = set.tcp->Health();
    }
    health.udpFailure = set.udpFailure;
    if (set.udp != nullptr) {
        const tavrel::network::UdpSenderCounters counters = set.udp->Counters();
        health.udpTarget = set.udp->address();
        health.udpDatagramsSent = counters.datagramsSent;
        health.udpBytesSent = counters.bytesSent;
        health.udpSendFailures = counters.sendFailures;
    }
    return health;
}
