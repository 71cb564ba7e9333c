#include "relay/relay_health.h"

#include <algorithm>

#include "platform/devices.h"
#include "platform/strings.h"
#include "relay/input_identity.h"
#include "relay/network_outputs.h"
#include "relay/relay_counters.h"

RelayCountersRecord RelayCounters;

namespace {

constexpr std::size_t kNodePathSize = 4096;   // a host path, as PATH_MAX allows
constexpr std::size_t kDeviceNameSize = 10;

InputHealth TakeInputHealth()
{
    InputHealth input;
    input.relaying = RelayCounters.relaying.load();
    input.port = RelayCounters.inputPort.load();
    input.baudRate = RelayCounters.baudRate.load();
    input.bytesRead = RelayCounters.bytesRead.load();
    input.readFailures = RelayCounters.readFailures.load();
    input.waitingForReceiver = input.relaying && RelayCounters.waitingForReceiver.load();
    if (input.waitingForReceiver) {
        input.notTakenBecause = InputRefusalReason(RelayCounters.inputRefusal.load());
    }
    if (const std::int64_t last = RelayCounters.lastByteAt.load(); last != 0) {
        const std::chrono::steady_clock::duration since(SteadyNow() - last);
        input.sinceLastByte = std::chrono::duration_cast<std::chrono::milliseconds>(since);
    }
    return input;
}

// What the port's driver tells of its line: the link a program opens, while
// the port publishes one; whether a program has it open; what a slow reader lost.
void AskThePort(OutputHealth& output)
{
    WCHAR name[kDeviceNameSize] = {};
    StringCchPrintfW(name, kDeviceNameSize, u"COM%d:", output.port);
    char path[kNodePathSize] = {};
    if (GetDeviceNodePath(name, path, sizeof path) == ERROR_SUCCESS) {
        output.path = path;
    }
    SERIAL_LINE_HEALTH line{};
    if (GetDeviceLineHealth(name, &line) == ERROR_SUCCESS) {
        output.programHasItOpen = line.programHasItOpen != FALSE;
        output.bytesDropped = line.bytesDropped;
    }
}

std::vector<OutputHealth> TakeOutputHealth()
{
    std::vector<OutputHealth> outputs;
    const std::size_t count = std::min(RelayCounters.outputCount.load(), kMostOutputs);
    for (std::size_t i = 0; i < count; ++i) {
        OutputHealth& output = outputs.emplace_back();
        output.port = RelayCounters.outputPorts[i].load();
        output.bytesRelayed = RelayCounters.bytesRelayed[i].load();
        output.gpsd = RelayCounters.gpsdPort.load() == output.port;
        AskThePort(output);
    }
    return outputs;
}

std::string Plural(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

RelayHealth TakeRelayHealth()
{
    RelayHealth health;
    health.input = TakeInputHealth();
    if (health.input.relaying) {
        health.outputs = TakeOutputHealth();
    }
    health.network = TakeNetworkHealth();
    return health;
}

std::string RelaySummary(const RelayHealth& health)
{
    if (!health.input.relaying) {
        return "Tavrel: idle";
    }
    std::string summary = "Tavrel: ";
    if (health.input.waitingForReceiver) {
        summary += "waiting for ";
    }
    summary += "COM" + std::to_string(health.input.port) + " to " +
               Plural(health.outputs.size(), "port", "ports");
    if (health.network.tcpPort != 0) {
        summary += ", " + Plural(health.network.tcp.clients.size(), "TCP client", "TCP clients");
    }
    if (!health.network.udpTarget.empty()) {
        summary += ", UDP to " + health.network.udpTarget;
    }
    return summary;
}
