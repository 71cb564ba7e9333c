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
#include "relay/network_reach.h"
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
    Announcement announcement;
    TcpTargets tcpTargets;
    MqttOutput mqtt;
};

// Which of the outputs a change of settings remakes; the others go on as
// they are, so that a new MQTT topic does not cut the TCP server's clients off.
struct NetworkParts {
    bool server = true;
    bool announcement = true;
    bool udp = true;
    bool tcpTargets = true;
    bool mqtt = true;
};

NetworkParts ChangedParts(const NetworkSettings& before, const NetworkSettings& after)
{
    NetworkParts parts;
    parts.server = before.tcpPort != after.tcpPort || before.tcpAnyAddress != after.tcpAnyAddress ||
                   before.tcpAllow != after.tcpAllow;
    parts.announcement = parts.server || before.announce != after.announce;
    parts.udp = before.udpTarget != after.udpTarget || before.udpTtl != after.udpTtl ||
                before.udpInterface != after.udpInterface;
    parts.tcpTargets = before.tcpConnect != after.tcpConnect;
    parts.mqtt = !(before.mqtt == after.mqtt);
    return parts;
}

struct NetworkOutputsRecord {
    // Guards everything below. The relay holds it to hand a chunk over, and
    // a health reader to copy the counts; outputs are made and ended outside it.
    std::mutex mutex;
    bool active = false;   // between StartNetworkOutputs and StopNetworkOutputs
    NetworkOutputSet set;
    NetworkSettings settings;   // what the next outputs are made with
};

NetworkOutputsRecord NetworkOutputs;

void StartTcpServer(const NetworkSettings& settings, NetworkOutputSet& set)
{
    if (settings.tcpPort == 0) {
        return;
    }
    set.tcpAnyAddress = settings.tcpAnyAddress != 0;
    if (settings.tcpPort > Setting(SettingId::TcpPort).highest) {
        set.tcpFailure = "TCP server: TcpPort " + std::to_string(settings.tcpPort) + " is not a port";
        ReportNetworkOutputFailure(set.tcpFailure);
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
        ReportNetworkOutputFailure(set.tcpFailure);
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
        ReportNetworkOutputFailure(set.udpFailure);
    }
}

// The outputs among `parts` that `settings` ask for; a failed one has its failure.
NetworkOutputSet MakeOutputs(const NetworkSettings& settings, const NetworkParts& parts)
{
    NetworkOutputSet set;
    if (parts.server) {
        StartTcpServer(settings, set);
    }
    if (parts.udp) {
        StartUdpSender(settings, set);
    }
    if (parts.tcpTargets) {
        set.tcpTargets = StartTcpTargets(settings);
    }
    if (parts.mqtt) {
        set.mqtt = StartMqttOutput(settings.mqtt);
    }
    return set;
}

bool Failed(const NetworkOutputSet& set)
{
    return !set.tcpFailure.empty() || !set.udpFailure.empty() || !set.announcement.failure.empty() ||
           !set.tcpTargets.failure.empty() || !set.mqtt.failure.empty();
}

// Swaps the parts among `parts` between `set` and what is in place.
void SwapParts(NetworkOutputSet& set, const NetworkParts& parts)
{
    NetworkOutputSet& inPlace = NetworkOutputs.set;
    if (parts.server) {
        std::swap(inPlace.tcp, set.tcp);
        std::swap(inPlace.tcpAnyAddress, set.tcpAnyAddress);
        std::swap(inPlace.tcpFailure, set.tcpFailure);
    }
    if (parts.announcement) {
        std::swap(inPlace.announcement, set.announcement);
    }
    if (parts.udp) {
        std::swap(inPlace.udp, set.udp);
        std::swap(inPlace.udpFailure, set.udpFailure);
    }
    if (parts.tcpTargets) {
        std::swap(inPlace.tcpTargets, set.tcpTargets);
    }
    if (parts.mqtt) {
        std::swap(inPlace.mqtt, set.mqtt);
    }
}

// Puts the `parts` of `set` in place while the run is active; what they
// replace (or `set` itself, when the run has ended meanwhile) ends outside
// the lock, so a closing server never holds up the relay.
void PutInPlace(NetworkOutputSet set, const NetworkParts& parts)
{
    const bool failed = Failed(set);
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        if (!NetworkOutputs.active) {
            return;
        }
        SwapParts(set, parts);
    }
    NotifyRelayHealthChanged(failed ? kNetworkOutputFailed : 0);
}

// Ends the `parts` in place (the server lets go of its port before a new one
// takes it), then makes them anew from `settings` and puts them in place. The
// announcement follows the server, whose port it names.
void RemakeParts(const NetworkSettings& settings, NetworkParts parts)
{
    NetworkOutputSet ended;
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        if (!NetworkOutputs.active) {
            return;
        }
        SwapParts(ended, parts);
    }
    ended = NetworkOutputSet{};
    NetworkOutputSet made = MakeOutputs(settings, parts);
    if (parts.announcement) {
        std::uint16_t port = made.tcp != nullptr ? made.tcp->port() : 0;
        if (!parts.server) {
            const std::lock_guard lock(NetworkOutputs.mutex);
            port = NetworkOutputs.set.tcp != nullptr ? NetworkOutputs.set.tcp->port() : 0;
        }
        made.announcement = StartAnnouncement(settings, port);
    }
    PutInPlace(std::move(made), parts);
}

NetworkSettings SettingsHandedOver()
{
    const std::lock_guard lock(NetworkOutputs.mutex);
    return NetworkOutputs.settings;
}

}  // namespace

void StartNetworkOutputs()
{
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        NetworkOutputs.active = true;
    }
    RemakeParts(SettingsHandedOver(), NetworkParts{});
}

void DeliverToNetwork(std::span<const unsigned char> chunk, bool toTcp, bool toUdp, bool toMqtt)
{
    const std::lock_guard lock(NetworkOutputs.mutex);
    NetworkOutputSet& set = NetworkOutputs.set;
    if (toTcp) {
        if (set.tcp != nullptr) {
            set.tcp->Deliver(chunk);
        }
        DeliverToTcpTargets(set.tcpTargets, chunk);
    }
    if (toUdp && set.udp != nullptr) {
        set.udp->Send(chunk);
    }
    if (toMqtt) {
        PublishToMqtt(set.mqtt, chunk);
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
    NetworkParts parts;
    {
        const std::lock_guard lock(NetworkOutputs.mutex);
        parts = ChangedParts(NetworkOutputs.settings, settings);
        NetworkOutputs.settings = settings;
    }
    RemakeParts(settings, parts);
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
    health.announcement = TakeAnnouncementHealth(set.announcement);
    health.tcpTargets = TakeTcpTargetsHealth(set.tcpTargets);
    health.tcpTargetsFailure = set.tcpTargets.failure;
    health.mqtt = TakeMqttHealth(set.mqtt);
    return health;
}
