#include "relay/relay_health.h"

#include <algorithm>
#include <mutex>

#include "platform/devices.h"
#include "platform/strings.h"
#include "relay/input_identity.h"
#include "relay/network_outputs.h"
#include "relay/relay_counters.h"

RelayCountersRecord RelayCounters;

namespace {

constexpr std::size_t kNodePathSize = 4096;   // a host path, as PATH_MAX allows
constexpr std::size_t kDeviceNameSize = 10;

struct InputLabel {
    std::string name;
    std::string kind;
    std::string hostPath{};
    std::optional<std::int32_t> comPort{};
};

// The names of the run's inputs, set at its start and read by the health
// readers on other threads.
std::mutex InputLabelsMutex;
std::vector<InputLabel> InputLabels;

InputLabel LabelOf(const ExtraInput& input)
{
    switch (input.kind) {
    case ExtraInputKind::Serial:
        return {input.name.empty() ? input.device : input.name, "serial", input.comPort ? "" : input.device,
                input.comPort};
    case ExtraInputKind::Tcp:
        return {input.name.empty() ? input.device + ":" + std::to_string(input.port) : input.name, "tcp"};
    case ExtraInputKind::Udp: return {input.name.empty() ? "udp " + std::to_string(input.port) : input.name, "udp"};
    }
    return {};
}

std::optional<std::chrono::milliseconds> Since(std::int64_t at)
{
    if (at == 0) {
        return std::nullopt;
    }
    const std::chrono::steady_clock::duration since(SteadyNow() - at);
    return std::chrono::duration_cast<std::chrono::milliseconds>(since);
}

std::vector<InputStatus> TakeInputStatus()
{
    std::vector<InputStatus> inputs;
    const std::lock_guard lock(InputLabelsMutex);
    const std::size_t count = std::min({RelayCounters.inputCount.load(), InputLabels.size(), kMostInputs});
    for (std::size_t i = 0; i < count; ++i) {
        const InputCountersRecord& record = RelayCounters.inputs[i];
        InputStatus& input = inputs.emplace_back();
        input.name = InputLabels[i].name;
        input.kind = InputLabels[i].kind;
        input.hostPath = InputLabels[i].hostPath;
        input.comPort = InputLabels[i].comPort;
        input.state = record.state.load();
        input.inStateFor = Since(record.stateSince.load()).value_or(std::chrono::milliseconds(0));
        input.bytes = i == 0 ? RelayCounters.bytesRead.load() : record.bytes.load();
        input.lines = record.lines.load();
        input.torn = record.torn.load();
        input.sinceLastByte = Since(i == 0 ? RelayCounters.lastByteAt.load() : record.lastByteAt.load());
    }
    return inputs;
}


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
    input.sinceLastByte = Since(RelayCounters.lastByteAt.load());
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

OutputWork TakeOutputWork(const OutputCountersRecord& record)
{
    OutputWork work;
    work.shaped = record.shaped.load();
    work.filtered = record.filtered.load();
    work.badChecksum = record.badChecksum.load();
    work.decimated = record.decimated.load();
    work.talk = record.talk.load();
    work.talkedBytes = record.talkedBytes.load();
    work.talkedLines = record.talkedLines.load();
    work.talkDropped = record.talkDropped.load();
    return work;
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
        output.work = TakeOutputWork(RelayCounters.outputs[i]);
        AskThePort(output);
    }
    return outputs;
}

std::string Plural(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void StartCountingInputs(const ExtraInputs& extras)
{
    const std::lock_guard lock(InputLabelsMutex);
    const std::int32_t main = RelayCounters.inputPort.load();
    InputLabels.assign(1, {"COM" + std::to_string(main), "serial", "", main});
    for (const ExtraInput& input : extras) {
        InputLabels.push_back(LabelOf(input));
    }
    InputLabels.resize(std::min(InputLabels.size(), kMostInputs));
    for (InputCountersRecord& record : RelayCounters.inputs) {
        record.state = InputState::Waiting;
        record.stateSince = SteadyNow();
        record.bytes = 0;
        record.lines = 0;
        record.torn = 0;
        record.lastByteAt = 0;
    }
    RelayCounters.inputCount = InputLabels.size();
}

std::vector<std::string> OutputWorkLines(const OutputWork& work)
{
    std::vector<std::string> lines;
    if (work.shaped) {
        lines.push_back("shaped: " + std::to_string(work.filtered) + " filtered, " +
                        Plural(work.badChecksum, "bad checksum", "bad checksums") + ", " +
                        std::to_string(work.decimated) + " decimated");
    }
    if (work.talk != TalkMode::Off) {
        lines.push_back(std::string(work.talk == TalkMode::Lines ? "talks (lines): " : "talks (raw): ") +
                        Plural(work.talkedBytes, "byte", "bytes") + " in " +
                        Plural(work.talkedLines, "line", "lines") + ", " +
                        Plural(work.talkDropped, "byte", "bytes") + " dropped");
    }
    return lines;
}

const char* InputStateText(InputState state)
{
    switch (state) {
    case InputState::Relaying: return "relaying";
    case InputState::Waiting: return "waiting";
    case InputState::Lost: return "lost";
    case InputState::StandingBy: return "standing by";
    }
    return "";
}

RelayHealth TakeRelayHealth()
{
    RelayHealth health;
    health.input = TakeInputHealth();
    if (health.input.relaying) {
        health.outputs = TakeOutputHealth();
        health.inputs = TakeInputStatus();
    }
    health.network = TakeNetworkHealth();
    if (health.input.relaying) {
        health.network.tcpWork = TakeOutputWork(RelayCounters.outputs[kTcpOutputCounts]);
        health.network.udpWork = TakeOutputWork(RelayCounters.outputs[kUdpOutputCounts]);
    }
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
    summary += "COM" + std::to_string(health.input.port);
    if (health.inputs.size() > 1) {
        const auto relaying = std::count_if(health.inputs.begin() + 1, health.inputs.end(),
                                            [](const InputStatus& input) { return input.state == InputState::Relaying; });
        summary += " + " + std::to_string(relaying) + " of " + Plural(health.inputs.size() - 1, "input", "inputs");
    }
    summary += " to " + Plural(health.outputs.size(), "port", "ports");
    if (health.network.tcpPort != 0) {
        summary += ", " + Plural(health.network.tcp.clients.size(), "TCP client", "TCP clients");
    }
    if (!health.network.udpTarget.empty()) {
        summary += ", UDP to " + health.network.udpTarget;
    }
    if (!health.network.mqtt.broker.empty()) {
        summary += health.network.mqtt.connected ? ", MQTT" : ", MQTT not connected";
    }
    return summary;
}
