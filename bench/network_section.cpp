#include "bench/network_section.h"

#include <cstdio>
#include <random>

#include "bench/attempt.h"
#include "bench/network_relays.h"
#include "bench/sessions.h"
#include "bench/tavrel_relay.h"
#include "testkit/loopback.h"

namespace tavrel::bench {
namespace {

enum class NetworkRelay { Tavrel, Ser2net, Socat };

// Tavrel's baud setting for 115200 in its bench device.
constexpr int kBaudIndex115200 = 12;

const char* NameOf(NetworkRelay kind)
{
    return kind == NetworkRelay::Tavrel ? "Tavrel" : kind == NetworkRelay::Ser2net ? "ser2net" : "socat";
}

RelayMaker MakerOf(NetworkRelay kind)
{
    return [kind](const std::filesystem::path& folder, const InputLine& input) -> std::unique_ptr<Relay> {
        const std::uint16_t port = testing::FreeLoopbackPort();
        if (kind == NetworkRelay::Tavrel) {
            // One virtual output, as the relay needs one; nobody opens it.
            return std::make_unique<TavrelRelay>(folder, input.tty(), 1, kBaudIndex115200, port);
        }
        if (kind == NetworkRelay::Ser2net) {
            return std::make_unique<Ser2netRelay>(folder, input.tty(), port);
        }
        return std::make_unique<SocatTcpRelay>(folder, input.tty(), port);
    };
}

RelayRuns& RunsOf(NetworkCompared& compared, NetworkRelay kind)
{
    return kind == NetworkRelay::Tavrel ? compared.tavrel : kind == NetworkRelay::Ser2net ? compared.ser2net
                                                                                          : compared.socat;
}

void MeasureLatencies(const Options& options, std::vector<NetworkCompared>& compared)
{
    std::mt19937 random(15);
    for (int run = 0; run < options.runs; ++run) {
        for (std::size_t k = 0; k < compared.size(); ++k) {
            NetworkCompared& c = compared[k];
            std::vector kinds = {NetworkRelay::Tavrel, NetworkRelay::Ser2net};
            if (c.clients == 1) {
                kinds.push_back(NetworkRelay::Socat);
            }
            for (const NetworkRelay kind : InTurn(kinds, static_cast<std::size_t>(run) + k)) {
                std::fprintf(stderr, "network run %d of %d: %s, %s\n", run + 1, options.runs, NameOf(kind),
                             Clients(c.clients).c_str());
                std::string failure;
                const auto latency = Attempt<LatencyFigures>(
                    MakerOf(kind),
                    [&](Relay& relay, const InputLine& input) {
                        return MeasureNetworkLatency(relay, input, static_cast<std::size_t>(c.clients),
                                                     options.plan.latencySamples, random);
                    },
                    failure);
                RelayRuns& runs = RunsOf(c, kind);
                if (latency) {
                    RunFigures figures;   // of a network run, only the latency is measured
                    figures.latency = *latency;
                    runs.runs.push_back(figures);
                } else {
                    runs.failures.push_back(failure);
                }
            }
        }
    }
}

std::vector<NetworkRealisticResult> MeasureRealisticOverTcp(const Options& options)
{
    std::vector<NetworkRealisticResult> results;
    const RealisticPlan plan{115200, std::chrono::seconds(options.networkSeconds)};
    for (const NetworkRelay kind : {NetworkRelay::Tavrel, NetworkRelay::Ser2net}) {
        NetworkRealisticResult result{NameOf(kind), std::nullopt, ""};
        std::fprintf(stderr, "realistic run over TCP: %s for %d s\n", result.relay.c_str(), options.networkSeconds);
        result.figures = Attempt<NetworkRealisticFigures>(
            MakerOf(kind),
            [&](Relay& relay, const InputLine& input) { return MeasureNetworkRealistic(relay, input, plan); },
            result.failure);
        results.push_back(result);
    }
    return results;
}

}  // namespace

NetworkResults MeasureNetwork(const Options& options)
{
    NetworkResults results;
    results.latency = {NetworkCompared{1, {}, {}, {}}, NetworkCompared{8, {}, {}, {}}};
    MeasureLatencies(options, results.latency);
    if (options.realistic) {
        results.realistic = MeasureRealisticOverTcp(options);
    }
    return results;
}

}  // namespace tavrel::bench
