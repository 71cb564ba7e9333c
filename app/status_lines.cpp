#include "app/status_lines.h"

#include "platform/strings.h"

namespace {

using std::chrono::duration_cast;
using std::chrono::seconds;

constexpr std::size_t kLineSize = 160;   // a line longer than the list is wide is cut anyway

template <typename... Args>
std::u16string Formatted(const WCHAR* format, const Args&... args)
{
    WCHAR text[kLineSize] = {};
    StringCchPrintfW(text, kLineSize, format, args...);
    return text;
}

// "1 client", "2 clients".
std::u16string Counted(unsigned long long count, const WCHAR* one, const WCHAR* many)
{
    return Formatted(u"%llu %s", count, count == 1 ? one : many);
}

std::u16string Wide(const std::string& text)
{
    return platform::ToUtf16(text);
}

void AddLastByte(const std::optional<std::chrono::milliseconds>& since, std::vector<std::u16string>& lines)
{
    if (!since) {
        lines.push_back(u"  no byte yet");
    } else if (*since < seconds(1)) {
        lines.push_back(u"  last byte just now");
    } else {
        lines.push_back(u"  last byte " + DurationText(duration_cast<seconds>(*since)) + u" ago");
    }
}

void AddInput(const InputHealth& input, std::vector<std::u16string>& lines)
{
    lines.push_back(Formatted(u"Input COM%d at %u baud", input.port, input.baudRate));
    lines.push_back(u"  " + Counted(input.bytesRead, u"byte", u"bytes") + u" read, " +
                    Counted(input.readFailures, u"read failure", u"read failures"));
    if (input.waitingForReceiver) {
        lines.push_back(u"  waiting for the receiver");
    }
    if (!input.notTakenBecause.empty()) {
        lines.push_back(u"  not taken: " + Wide(input.notTakenBecause));
    }
    AddLastByte(input.sinceLastByte, lines);
}

// Who a serial input's device is, and what stands in its way.
void AddFindings(const InputStatus& input, std::vector<std::u16string>& lines)
{
    if (!input.identity.empty()) {
        lines.push_back(u"  " + Wide(input.identity));
    }
    for (const std::string& what : input.inTheWay) {
        lines.push_back(u"  in the way: " + Wide(what));
    }
}

// The inputs beside the main one, and the lines that each gave the merge.
void AddMergedInputs(const std::vector<InputStatus>& inputs, std::vector<std::u16string>& lines)
{
    if (inputs.size() < 2) {
        if (!inputs.empty()) {
            AddFindings(inputs[0], lines);
        }
        return;
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const InputStatus& input = inputs[i];
        if (i > 0) {
            lines.push_back(Formatted(u"Input %u ", static_cast<unsigned>(i)) + Wide(input.name) + u" (" +
                            Wide(input.kind) + u")");
            lines.push_back(u"  " + Wide(InputStateText(input.state)) + u" for " +
                            DurationText(duration_cast<seconds>(input.inStateFor)) + u", " +
                            Counted(input.bytes, u"byte", u"bytes"));
        }
        lines.push_back((i == 0 ? u"  merged: " : u"  ") + Counted(input.lines, u"line", u"lines") +
                        Formatted(u", %llu torn", input.torn));
        if (i > 0) {
            AddLastByte(input.sinceLastByte, lines);
        }
        AddFindings(input, lines);
    }
}

void AddWork(const OutputWork& work, std::vector<std::u16string>& lines)
{
    for (const std::string& line : OutputWorkLines(work)) {
        lines.push_back(u"  " + Wide(line));
    }
}

void AddOutput(const OutputHealth& output, std::vector<std::u16string>& lines)
{
    lines.push_back(Formatted(u"COM%u: %llu relayed, %llu dropped", static_cast<unsigned>(output.port),
                              output.bytesRelayed, output.bytesDropped));
    if (output.gpsd) {
        lines.push_back(u"  handed to gpsd");
    }
    lines.push_back(output.programHasItOpen ? u"  a program has it open" : u"  no program has it open");
    AddWork(output.work, lines);
}

void AddTcpServer(const NetworkHealth& network, std::chrono::system_clock::time_point now,
                  std::vector<std::u16string>& lines)
{
    if (!network.tcpFailure.empty()) {
        lines.push_back(FailureText(u"TCP server", network.tcpFailure));
        return;
    }
    if (network.tcpPort == 0) {
        lines.push_back(u"TCP server off");
        return;
    }
    lines.push_back(Formatted(u"TCP port %u, %s", static_cast<unsigned>(network.tcpPort),
                              network.tcpAnyAddress ? u"all addresses" : u"this computer only"));
    lines.push_back(u"  " + Counted(network.tcp.clients.size(), u"client", u"clients") +
                    Formatted(u", %llu refused, %llu cut off", network.tcp.clientsRefused, network.tcp.clientsCutOff));
    AddWork(network.tcpWork, lines);
    for (const tavrel::network::ClientHealth& client : network.tcp.clients) {
        const auto connected = duration_cast<seconds>(now - client.connectedSince);
        lines.push_back(u"  " + Wide(client.address) + u" for " + DurationText(connected));
        lines.push_back(Formatted(u"    %llu sent, %llu dropped", client.bytesSent, client.bytesDropped));
    }
}

void AddUdpOutput(const NetworkHealth& network, std::vector<std::u16string>& lines)
{
    if (!network.udpFailure.empty()) {
        lines.push_back(FailureText(u"UDP output", network.udpFailure));
    } else if (network.udpTarget.empty()) {
        lines.push_back(u"UDP output off");
    } else {
        lines.push_back(u"UDP to " + Wide(network.udpTarget));
        lines.push_back(u"  " + Counted(network.udpDatagramsSent, u"datagram", u"datagrams") + u", " +
                        Counted(network.udpSendFailures, u"failure", u"failures"));
        AddWork(network.udpWork, lines);
    }
}

void AddAnnouncement(const AnnouncementHealth& announcement, std::vector<std::u16string>& lines)
{
    if (announcement.state.empty()) {
        return;
    }
    lines.push_back(u"DNS-SD: " + Wide(announcement.state));
    if (!announcement.name.empty()) {
        lines.push_back(u"  as \"" + Wide(announcement.name) + u"\"");
    }
    if (!announcement.failure.empty()) {
        lines.push_back(u"  " + Wide(announcement.failure));
    }
}

void AddTcpTargets(const NetworkHealth& network, std::vector<std::u16string>& lines)
{
    if (!network.tcpTargetsFailure.empty()) {
        lines.push_back(FailureText(u"TCP output", network.tcpTargetsFailure));
    }
    for (const TcpTargetHealth& target : network.tcpTargets) {
        lines.push_back(u"TCP to " + Wide(target.target));
        lines.push_back(target.connected ? u"  connected to " + Wide(target.address) : u"  waiting: " + Wide(target.reason));
        lines.push_back(Formatted(u"  %llu sent, %llu dropped", target.bytesSent, target.bytesDropped));
    }
}

void AddMqtt(const MqttHealth& mqtt, std::vector<std::u16string>& lines)
{
    if (mqtt.broker.empty()) {
        return;
    }
    lines.push_back(u"MQTT to " + Wide(mqtt.broker) + (mqtt.connected ? u": connected" : u": not connected"));
    lines.push_back(u"  " + Counted(mqtt.published, u"sentence", u"sentences") +
                    Formatted(u" published, %llu dropped", mqtt.dropped));
    if (!mqtt.failure.empty()) {
        lines.push_back(u"  " + Wide(mqtt.failure));
    }
}

}  // namespace

std::vector<std::u16string> StatusLines(const RelayHealth& health, std::chrono::system_clock::time_point now)
{
    if (!health.input.relaying) {
        return {u"Idle: not relaying"};
    }
    std::vector<std::u16string> lines;
    AddInput(health.input, lines);
    AddMergedInputs(health.inputs, lines);
    for (const OutputHealth& output : health.outputs) {
        AddOutput(output, lines);
    }
    AddTcpServer(health.network, now, lines);
    AddAnnouncement(health.network.announcement, lines);
    AddUdpOutput(health.network, lines);
    AddTcpTargets(health.network, lines);
    AddMqtt(health.network.mqtt, lines);
    return lines;
}

std::u16string FailureText(const char16_t* output, const std::string& failure)
{
    const std::u16string text = Wide(failure);
    const std::u16string named = std::u16string(output) + u": ";
    return text.rfind(named, 0) == 0 ? text : named + text;
}

std::u16string DurationText(std::chrono::seconds duration)
{
    const long long total = duration.count() < 0 ? 0 : duration.count();
    if (total < 60) {
        return Formatted(u"%lld s", total);
    }
    if (total < 3600) {
        return Formatted(u"%lld min %lld s", total / 60, total % 60);
    }
    return Formatted(u"%lld h %02lld min", total / 3600, (total % 3600) / 60);
}
