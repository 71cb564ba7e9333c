#include "status/health_report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

#include "command_line/json_text.h"

namespace {

using tavrel::command_line::JsonArray;
using tavrel::command_line::JsonObject;
using tavrel::command_line::Quoted;

// ISO 8601 for programs ("2026-12-08T21:59:24Z"), or for a person ("2026-12-08 21:59:24").
enum class TimeFor { Program, Person };

std::string UtcTime(std::chrono::system_clock::time_point when, TimeFor reader)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    const std::size_t length = reader == TimeFor::Program ? std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc)
                                                          : std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return std::string(text, length);
}

std::string MillisecondsOrNull(const std::optional<std::chrono::milliseconds>& since)
{
    return since ? std::to_string(std::max<std::int64_t>(since->count(), 0)) : "null";
}

std::string InputJson(const InputHealth& input)
{
    return JsonObject()
        .Bool("relaying", input.relaying)
        .Number("port", static_cast<std::uint64_t>(std::max(input.port, 0)))
        .Number("baudRate", input.baudRate)
        .Number("bytesRead", input.bytesRead)
        .Number("readFailures", input.readFailures)
        .Raw("msSinceLastByte", MillisecondsOrNull(input.sinceLastByte))
        .Bool("waitingForReceiver", input.waitingForReceiver)
        .TextOrNull("notTakenBecause", input.notTakenBecause)
        .Done();
}

std::string InputStatusJson(const InputStatus& input)
{
    return JsonObject()
        .Text("name", input.name)
        .Text("kind", input.kind)
        .Text("state", InputStateText(input.state))
        .Number("msInState", static_cast<std::uint64_t>(std::max<std::int64_t>(input.inStateFor.count(), 0)))
        .Number("bytes", input.bytes)
        .Number("lines", input.lines)
        .Number("torn", input.torn)
        .Raw("msSinceLastByte", MillisecondsOrNull(input.sinceLastByte))
        .TextOrNull("path", input.hostPath)
        .TextOrNull("identity", input.identity)
        .Raw("inTheWay", JsonArray(input.inTheWay, [](const std::string& what) { return Quoted(what); }))
        .Done();
}

std::string WorkJson(const OutputWork& work)
{
    const char* talk = work.talk == TalkMode::Lines ? "lines" : work.talk == TalkMode::Raw ? "raw" : "off";
    return JsonObject()
        .Bool("shaped", work.shaped)
        .Number("filtered", work.filtered)
        .Number("badChecksums", work.badChecksum)
        .Number("decimated", work.decimated)
        .Text("talk", talk)
        .Number("bytesTalked", work.talkedBytes)
        .Number("linesTalked", work.talkedLines)
        .Number("talkBytesDropped", work.talkDropped)
        .Done();
}

std::string OutputJson(const OutputHealth& output)
{
    return JsonObject()
        .Number("port", output.port)
        .Number("bytesRelayed", output.bytesRelayed)
        .Number("bytesDropped", output.bytesDropped)
        .Bool("programHasItOpen", output.programHasItOpen)
        .Bool("gpsd", output.gpsd)
        .TextOrNull("path", output.path)
        .Raw("work", WorkJson(output.work))
        .Done();
}

std::string ClientJson(const tavrel::network::ClientHealth& client)
{
    return JsonObject()
        .Text("address", client.address)
        .Text("connectedSince", UtcTime(client.connectedSince, TimeFor::Program))
        .Number("bytesSent", client.bytesSent)
        .Number("bytesDropped", client.bytesDropped)
        .Done();
}

std::string NetworkJson(const NetworkHealth& network)
{
    const std::string tcp = JsonObject()
                                .Raw("port", network.tcpPort != 0 ? std::to_string(network.tcpPort) : "null")
                                .Bool("anyAddress", network.tcpAnyAddress)
                                .TextOrNull("failure", network.tcpFailure)
                                .Raw("clients", JsonArray(network.tcp.clients, ClientJson))
                                .Number("clientsRefused", network.tcp.clientsRefused)
                                .Number("clientsCutOff", network.tcp.clientsCutOff)
                                .Raw("work", WorkJson(network.tcpWork))
                                .Done();
    const std::string udp = JsonObject()
                                .TextOrNull("target", network.udpTarget)
                                .TextOrNull("failure", network.udpFailure)
                                .Number("datagramsSent", network.udpDatagramsSent)
                                .Number("bytesSent", network.udpBytesSent)
                                .Number("sendFailures", network.udpSendFailures)
                                .Raw("work", WorkJson(network.udpWork))
                                .Done();
    const AnnouncementHealth& announcement = network.announcement;
    const std::string announced = announcement.state.empty() ? "null"
                                                             : JsonObject()
                                                                   .Text("state", announcement.state)
                                                                   .TextOrNull("name", announcement.name)
                                                                   .TextOrNull("failure", announcement.failure)
                                                                   .Done();
    return JsonObject().Raw("tcp", tcp).Raw("udp", udp).Raw("announcement", announced).Done();
}

std::string TcpTargetJson(const TcpTargetHealth& target)
{
    return JsonObject()
        .Text("target", target.target)
        .Bool("connected", target.connected)
        .Number("sent", target.bytesSent)
        .Number("dropped", target.bytesDropped)
        .TextOrNull("address", target.address)
        .TextOrNull("reason", target.reason)
        .Done();
}

std::string MqttJson(const MqttHealth& mqtt)
{
    if (mqtt.broker.empty()) {
        return "null";
    }
    return JsonObject()
        .Text("broker", mqtt.broker)
        .Bool("connected", mqtt.connected)
        .Number("published", mqtt.published)
        .Number("dropped", mqtt.dropped)
        .TextOrNull("failure", mqtt.failure)
        .Done();
}

// ---- Table ------------------------------------------------------------------

using Row = std::vector<std::string>;

// A text from outside (a path, an address, a reason) as a terminal shows it:
// control characters, which would break the lines or drive the terminal,
// become '?'.
std::string Printable(std::string_view text)
{
    std::string out(text);
    std::replace_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return out;
}

// Rows under a heading row, each column as wide as its widest cell.
std::string Columns(const std::vector<Row>& rows)
{
    std::vector<std::size_t> widths;
    for (const Row& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - row[i].size() + 2, ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

std::string Count(std::uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string PortName(std::int64_t number)
{
    return "COM" + std::to_string(number);
}

std::string Seconds(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(std::max<std::int64_t>(duration.count(), 0)) / 1000.0);
    return text;
}

std::string SinceLastByte(const InputHealth& input)
{
    return input.sinceLastByte ? "last byte " + Seconds(*input.sinceLastByte) + " ago" : "no byte yet";
}

std::string InputTable(const InputHealth& input)
{
    if (!input.relaying) {
        return "Input   not relaying\n";
    }
    std::string text = "Input   " + PortName(input.port) + " at " + std::to_string(input.baudRate) + " baud";
    text += input.waitingForReceiver ? ", waiting for the receiver\n" : "\n";
    if (!input.notTakenBecause.empty()) {
        text += "        not taken: " + input.notTakenBecause + "\n";
    }
    text += "        " + Count(input.bytesRead, "byte", "bytes") + " read, " +
            Count(input.readFailures, "read failure", "read failures") + ", " + SinceLastByte(input) + "\n";
    return text;
}

// Who each serial input's device is and what stands in its way, a line
// each, under the input's number (none with `indent` for the main input alone).
std::string Findings(const std::vector<InputStatus>& inputs, const std::string& indent)
{
    std::string text;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string lead = indent.empty() ? std::to_string(i) + " " : indent;
        if (!inputs[i].identity.empty()) {
            text += lead + "is " + Printable(inputs[i].identity) + "\n";
        }
        for (const std::string& what : inputs[i].inTheWay) {
            text += lead + "in the way: " + Printable(what) + "\n";
        }
    }
    return text;
}

// The inputs, when the run has more than the main one.
std::string InputsTable(const std::vector<InputStatus>& inputs)
{
    if (inputs.size() < 2) {
        return inputs.empty() ? "" : Findings(inputs, "        ");
    }
    std::vector<Row> rows{{"Input", "Kind", "State", "Since", "Bytes", "Lines", "Torn", "Last byte"}};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const InputStatus& input = inputs[i];
        rows.push_back({std::to_string(i) + " " + Printable(input.name), input.kind, InputStateText(input.state),
                        Seconds(input.inStateFor) + " ago", std::to_string(input.bytes), std::to_string(input.lines),
                        std::to_string(input.torn), input.sinceLastByte ? Seconds(*input.sinceLastByte) + " ago" : "-"});
    }
    return std::string(1, '\n').append(Columns(rows)).append(Findings(inputs, ""));
}

// An output's shape and talk, a line each, under its name.
std::string WorkText(const std::string& name, const OutputWork& work)
{
    std::string text;
    for (const std::string& line : OutputWorkLines(work)) {
        text.append(name).append(std::string(name.size() < 8 ? 8 - name.size() : 1, ' ')).append(line).append("\n");
    }
    return text;
}

std::string OutputsTable(const std::vector<OutputHealth>& outputs)
{
    if (outputs.empty()) {
        return "";
    }
    std::vector<Row> rows{{"Output", "Read by", "Relayed", "Dropped", "Path"}};
    for (const OutputHealth& output : outputs) {
        rows.push_back({PortName(output.port) + (output.gpsd ? " (gpsd)" : ""), output.programHasItOpen ? "a program" : "nobody",
                        std::to_string(output.bytesRelayed), std::to_string(output.bytesDropped),
                        output.path.empty() ? "-" : Printable(output.path)});
    }
    std::string table = "\n";
    table += Columns(rows);
    for (const OutputHealth& output : outputs) {
        table += WorkText(PortName(output.port), output.work);
    }
    return table;
}

std::string TcpTable(const NetworkHealth& network)
{
    if (!network.tcpFailure.empty()) {
        return "\nTCP     not serving: " + Printable(network.tcpFailure) + "\n";
    }
    if (network.tcpPort == 0) {
        return "";
    }
    std::string text = "\nTCP     port " + std::to_string(network.tcpPort) +
                       (network.tcpAnyAddress ? " for other computers too" : " for this computer only") + ", " +
                       Count(network.tcp.clients.size(), "client", "clients") + ", " +
                       std::to_string(network.tcp.clientsRefused) + " refused, " +
                       std::to_string(network.tcp.clientsCutOff) + " cut off\n" + WorkText("TCP", network.tcpWork);
    if (network.tcp.clients.empty()) {
        return text;
    }
    std::vector<Row> rows{{"Client", "Connected since (UTC)", "Sent", "Dropped"}};
    for (const tavrel::network::ClientHealth& client : network.tcp.clients) {
        rows.push_back({Printable(client.address), UtcTime(client.connectedSince, TimeFor::Person),
                        std::to_string(client.bytesSent), std::to_string(client.bytesDropped)});
    }
    return text + Columns(rows);
}

std::string UdpTable(const NetworkHealth& network)
{
    if (!network.udpFailure.empty()) {
        return "\nUDP     not sending: " + Printable(network.udpFailure) + "\n";
    }
    if (network.udpTarget.empty()) {
        return "";
    }
    return "\nUDP     to " + Printable(network.udpTarget) + ": " +
           Count(network.udpDatagramsSent, "datagram", "datagrams") + ", " +
           Count(network.udpBytesSent, "byte", "bytes") + ", " +
           Count(network.udpSendFailures, "send failure", "send failures") + "\n" + WorkText("UDP", network.udpWork);
}

std::string AnnouncementTable(const AnnouncementHealth& announcement)
{
    if (announcement.state.empty()) {
        return "";
    }
    std::string text = "\nDNS-SD  " + announcement.state;
    if (!announcement.name.empty()) {
        text += " as \"" + Printable(announcement.name) + "\"";
    }
    return text + (announcement.failure.empty() ? "" : ": " + Printable(announcement.failure)) + "\n";
}

std::string TcpTargetsTable(const NetworkHealth& network)
{
    std::string text = network.tcpTargetsFailure.empty() ? "" : "\nTCP out not sending: " + Printable(network.tcpTargetsFailure) + "\n";
    if (network.tcpTargets.empty()) {
        return text;
    }
    std::vector<Row> rows{{"Sent to", "State", "Sent", "Dropped"}};
    for (const TcpTargetHealth& target : network.tcpTargets) {
        const std::string state = target.connected ? "connected to " + target.address : "waiting: " + target.reason;
        rows.push_back({Printable(target.target), Printable(state), std::to_string(target.bytesSent),
                        std::to_string(target.bytesDropped)});
    }
    return text + "\n" + Columns(rows);
}

std::string MqttTable(const MqttHealth& mqtt)
{
    if (mqtt.broker.empty()) {
        return "";
    }
    std::string text = "\nMQTT    broker " + Printable(mqtt.broker) + (mqtt.connected ? " connected, " : " not connected, ") +
                       Count(mqtt.published, "sentence", "sentences") + " published, " + std::to_string(mqtt.dropped) +
                       " dropped\n";
    return mqtt.failure.empty() ? text : text + "        " + Printable(mqtt.failure) + "\n";
}

}  // namespace

std::string HealthJson(const RelayHealth& health)
{
    return JsonObject()
               .Raw("input", InputJson(health.input))
               .Raw("inputs", JsonArray(health.inputs, InputStatusJson))
               .Raw("outputs", JsonArray(health.outputs, OutputJson))
               .Raw("network", NetworkJson(health.network))
               .Raw("tcpConnect", JsonArray(health.network.tcpTargets, TcpTargetJson))
               .Raw("mqtt", MqttJson(health.network.mqtt))
               .Done() +
           "\n";
}

std::string HealthTable(const RelayHealth& health)
{
    const NetworkHealth& network = health.network;
    return InputTable(health.input) + InputsTable(health.inputs) + OutputsTable(health.outputs) + TcpTable(network) +
           AnnouncementTable(network.announcement) + UdpTable(network) + TcpTargetsTable(network) +
           MqttTable(network.mqtt);
}
