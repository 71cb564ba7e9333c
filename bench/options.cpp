#include "bench/options.h"

#include <algorithm>
#include <charconv>

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

std::optional<int> PositiveNumber(const std::string& text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

Options Defaults(bool quick)
{
    Options options;
    options.quick = quick;
    options.runs = quick ? 1 : 3;
    options.plan.idle = quick ? 3s : 20s;
    options.plan.latencySamples = quick ? 200 : 1000;
    options.plan.throughputBytes = quick ? 4'000'000 : 40'000'000;
    options.plan.throughputLimit = quick ? 10s : 30s;
    options.neverReadSeconds = quick ? 10 : 60;
    options.networkSeconds = quick ? 5 : 30;
    return options;
}

int& NumberFor(Options& options, const std::string& argument)
{
    if (argument == "--runs") {
        return options.runs;
    }
    return argument == "--network-seconds" ? options.networkSeconds : options.neverReadSeconds;
}

}  // namespace

const char* const kUsage =
    "usage: relay_compare [--quick] [--runs N] [--never-read-seconds N] [--no-realistic]\n"
    "                     [--network-only | --no-network] [--network-seconds N]\n"
    "  --quick                 short runs for trying (1 run, 200 latency samples, 4 MB, 10 s and 5 s realistic runs)\n"
    "  --runs N                alternating runs of each relay per output or client count (full: 3)\n"
    "  --never-read-seconds N  length of each realistic run to virtual ports (full: 60)\n"
    "  --no-realistic          leave the realistic runs out\n"
    "  --network-only          only the network section (TCP clients: Tavrel, ser2net, socat)\n"
    "  --no-network            leave the network section out\n"
    "  --network-seconds N     length of the realistic run over TCP (full: 30)\n";

std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::string& error)
{
    const bool quick = std::find(arguments.begin(), arguments.end(), "--quick") != arguments.end();
    Options options = Defaults(quick);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesNumber =
            argument == "--runs" || argument == "--never-read-seconds" || argument == "--network-seconds";
        const std::optional<int> number =
            takesNumber && i + 1 < arguments.size() ? PositiveNumber(arguments[++i]) : std::nullopt;
        if (argument == "--quick") {
            continue;
        } else if (argument == "--no-realistic") {
            options.realistic = false;
        } else if (argument == "--network-only") {
            options.serial = false;
        } else if (argument == "--no-network") {
            options.network = false;
        } else if (takesNumber && number) {
            NumberFor(options, argument) = *number;
        } else {
            error = takesNumber ? argument + " takes a whole number above 0" : "unknown argument " + argument;
            return std::nullopt;
        }
    }
    if (!options.serial && !options.network) {
        error = "--network-only and --no-network leave nothing to measure";
        return std::nullopt;
    }
    return options;
}

}  // namespace tavrel::bench
