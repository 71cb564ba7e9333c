#include "bench/merge_section.h"

#include <cstdio>
#include <memory>

#include "bench/attempt.h"
#include "bench/merge_run.h"
#include "bench/signalk_relay.h"
#include "bench/tavrel_relay.h"
#include "testkit/loopback.h"

namespace tavrel::bench {
namespace {

// Tavrel's baud setting for 4800 in its bench device.
constexpr int kBaudIndex4800 = 5;
constexpr int kVirtualPorts = 9;
constexpr std::size_t kTcpClients = 4;

std::vector<OutputReaders::Opener> TavrelOutputs(const Relay& relay)
{
    std::vector<OutputReaders::Opener> outputs = PortOpeners(relay.outputLinks());
    for (OutputReaders::Opener& client : LoopbackClients(relay.tcpPort(), kTcpClients)) {
        outputs.push_back(std::move(client));
    }
    return outputs;
}

// The value (a number, or a text without its quotes) after "key": in a JSON
// object's text; "?" when there is none.
std::string JsonField(const std::string& object, const std::string& key)
{
    const std::size_t at = object.find("\"" + key + "\":");
    if (at == std::string::npos) {
        return "?";
    }
    const std::size_t from = object.find_first_not_of(" \"", at + key.size() + 3);
    const std::size_t to = object.find_first_of(",}\"", from);
    return object.substr(from, to - from);
}

// "COM9 (relaying) 2154 lines, 0 torn; ...": each input of tavrel-status --json,
// whose "inputs" array of flat objects comes before its "outputs".
std::string InputCounts(const std::string& status)
{
    const std::size_t from = status.find("\"inputs\":[");
    const std::size_t to = status.find("\"outputs\":", from);
    if (from == std::string::npos || to == std::string::npos) {
        return "tavrel-status --json gave no inputs";
    }
    const std::string inputs = status.substr(from, to - from);
    std::string counts;
    for (std::size_t at = inputs.find('{'); at != std::string::npos; at = inputs.find('{', at + 1)) {
        const std::string object = inputs.substr(at, inputs.find('}', at) - at);
        counts.append(counts.empty() ? "" : "; ")
            .append(JsonField(object, "name") + " (" + JsonField(object, "state") + ") " +
                    JsonField(object, "bytes") + " bytes, " + JsonField(object, "lines") + " lines, " +
                    JsonField(object, "torn") + " torn");
    }
    return "tavrel-status --json at the end: " + counts;
}

MergeResult TavrelMerge(const MergePlan& plan)
{
    MergeResult result{"Tavrel", std::to_string(kVirtualPorts) + " virtual ports + " + std::to_string(kTcpClients) +
                                     " TCP clients", std::nullopt, "", ""};
    const InputLine ais;
    const std::uint16_t windPort = FreeUdpPort();
    TavrelRelay* tavrel = nullptr;
    result.figures = Attempt<MergeFigures>(
        [&](const std::filesystem::path& folder, const InputLine& gps) -> std::unique_ptr<Relay> {
            auto relay = std::make_unique<TavrelRelay>(folder, gps.tty(), kVirtualPorts, kBaudIndex4800,
                                                       testing::FreeLoopbackPort());
            relay->Configure({"inputs", "add", "serial", ais.tty(), "38400", "name=AIS"});
            relay->Configure({"inputs", "add", "udp", std::to_string(windPort), "name=wind"});
            tavrel = relay.get();
            return relay;
        },
        [&](Relay& relay, const InputLine& gps) {
            PtyFeed gpsFeed(gps);
            PtyFeed aisFeed(ais);
            UdpFeed windFeed(windPort);
            MergeSubject subject{relay, {&gpsFeed, &aisFeed, &windFeed}, TavrelOutputs(relay),
                                 relay.outputLinks().size(), {}, [&] { return InputCounts(tavrel->Status()); }};
            return MeasureMerge(subject, plan);
        },
        result.failure);
    return result;
}

MergeResult SignalKMerge(const Options& options, const MergePlan& plan)
{
    MergeResult result{"Signal K", std::to_string(kTcpClients) + " TCP clients; it has no virtual serial ports",
                       std::nullopt, "", ""};
    if (!std::filesystem::exists(SignalKScript(options.signalk))) {
        result.skipped = "not installed: no " + SignalKScript(options.signalk).string() +
                         " (npm install signalk-server@2.23.0 in " + options.signalk.string() +
                         ", or --signalk PATH)";
        return result;
    }
    std::array<std::unique_ptr<TcpFeed>, kMergeSources> feeds;
    SignalKRelay* signalk = nullptr;
    result.figures = Attempt<MergeFigures>(
        [&](const std::filesystem::path& folder, const InputLine&) -> std::unique_ptr<Relay> {
            std::vector<SignalKProvider> providers;
            for (const MergeSource source : kAllMergeSources) {
                auto& feed = feeds[static_cast<std::size_t>(source)];
                feed = std::make_unique<TcpFeed>();
                providers.emplace_back(NameOf(source), feed->port());
            }
            auto relay = std::make_unique<SignalKRelay>(folder, options.signalk, providers);
            signalk = relay.get();
            return relay;
        },
        [&](Relay& relay, const InputLine&) {
            MergeSubject subject{relay, {feeds[0].get(), feeds[1].get(), feeds[2].get()},
                                 LoopbackClients(relay.tcpPort(), kTcpClients), 0,
                                 [&] { return signalk->HasPosition(); }, {}};
            return MeasureMerge(subject, plan);
        },
        result.failure);
    return result;
}

}  // namespace

std::vector<MergeResult> MeasureMergeSection(const Options& options)
{
    const MergePlan plan = MergePlanFor(std::chrono::seconds(options.mergeSeconds));
    std::fprintf(stderr, "merge run: Tavrel for %d s\n", options.mergeSeconds);
    std::vector<MergeResult> results = {TavrelMerge(plan)};
    std::fprintf(stderr, "merge run: Signal K for %d s\n", options.mergeSeconds);
    results.push_back(SignalKMerge(options, plan));
    return results;
}

}  // namespace tavrel::bench
