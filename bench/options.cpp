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
    options.mergeSeconds = quick ? 20 : 300;
    options.shapeSeconds = quick ? 10 : 30;
    options.mqttSeconds = quick ? 3 : 30;
    options.mqttOutageSeconds = quick ? 4 : 30;
    return options;
}

int& NumberFor(Options& options, const std::string& argument)
{
    if (argument == "--runs") {
        return options.runs;
    }
    if (argument == "--merge-seconds") {
        return options.mergeSeconds;
    }
    if (argument == "--shape-seconds") {
        return options.shapeSeconds;
    }
    if (argument == "--mqtt-seconds") {
        return options.mqttSeconds;
    }
    return argument == "--network-seconds" ? options.networkSeconds : options.neverReadSeconds;
}

// `options` with every section left out but `section` (which stays as it was).
Options OnlyOne(Options options, bool Options::*section)
{
    const bool kept = options.*section;
    options.serial = false;
    options.network = false;
    options.merge = false;
    options.shape = false;
    options.mqtt = false;
    options.*section = kept;
    return options;
}

// A word that is an option by itself; false for any other word.
bool TakeSwitch(Options& options, const std::string& argument)
{
    if (argument == "--no-realistic") {
        options.realistic = false;
    } else if (argument == "--network-only") {
        options = OnlyOne(options, &Options::network);
    } else if (argument == "--no-network") {
        options.network = false;
    } else if (argument == "--merge-only") {
        options = OnlyOne(options, &Options::merge);
    } else if (argument == "--no-merge") {
        options.merge = false;
    } else if (argument == "--shape-only") {
        options = OnlyOne(options, &Options::shape);
    } else if (argument == "--no-shape") {
        options.shape = false;
    } else if (argument == "--mqtt-only") {
        options = OnlyOne(options, &Options::mqtt);
    } else if (argument == "--no-mqtt") {
        options.mqtt = false;
    } else {
        return argument == "--quick";
    }
    return true;
}

}  // namespace

const char* const kUsage =
    "usage: relay_compare [--quick] [--runs N] [--never-read-seconds N] [--no-realistic]\n"
    "                     [--network-only | --no-network] [--network-seconds N]\n"
    "                     [--merge-only | --no-merge] [--merge-seconds N] [--signalk PATH]\n"
    "                     [--shape-only | --no-shape] [--shape-seconds N]\n"
    "                     [--mqtt-only | --no-mqtt] [--mqtt-seconds N]\n"
    "  --quick                 short runs for trying (1 run, 200 latency samples, 4 MB, 10 s and 5 s realistic runs)\n"
    "  --runs N                alternating runs of each relay per output or client count (full: 3)\n"
    "  --never-read-seconds N  length of each realistic run to virtual ports (full: 60)\n"
    "  --no-realistic          leave the realistic runs out\n"
    "  --network-only          only the network section (TCP clients: Tavrel, ser2net, socat)\n"
    "  --no-network            leave the network section out\n"
    "  --network-seconds N     length of the realistic run over TCP (full: 30)\n"
    "  --merge-only            only the merge section (GPS, AIS and wind merged: Tavrel, Signal K)\n"
    "  --no-merge              leave the merge section out\n"
    "  --merge-seconds N       length of each merge run (full: 300, quick: 20)\n"
    "  --signalk PATH          the folder where npm installed signalk-server (default /opt/signalk)\n"
    "  --shape-only            only the shaping and talk section (shaped outputs' CPU, talk latency, a flood)\n"
    "  --no-shape              leave the shaping and talk section out\n"
    "  --shape-seconds N       length of each shaping-cost run (full: 30, quick: 10)\n"
    "  --mqtt-only             only the MQTT section (a broker's subscriber beside a TCP client; the broker away)\n"
    "  --no-mqtt               leave the MQTT section out\n"
    "  --mqtt-seconds N        length of each MQTT run (full: 30, quick: 3); the broker stays away 30 s (quick: 4)\n";

std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::string& error)
{
    const bool quick = std::find(arguments.begin(), arguments.end(), "--quick") != arguments.end();
    Options options = Defaults(quick);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesNumber = argument == "--runs" || argument == "--never-read-seconds" ||
                                 argument == "--network-seconds" || argument == "--merge-seconds" ||
                                 argument == "--shape-seconds" || argument == "--mqtt-seconds";
        const bool takesValue = takesNumber || argument == "--signalk";
        const std::optional<std::string> value =
            takesValue && i + 1 < arguments.size() ? std::optional(arguments[++i]) : std::nullopt;
        const std::optional<int> number = takesNumber && value ? PositiveNumber(*value) : std::nullopt;
        if (argument == "--signalk" && value) {
            options.signalk = *value;
        } else if (takesNumber && number) {
            NumberFor(options, argument) = *number;
        } else if (takesValue || !TakeSwitch(options, argument)) {
            error = takesNumber  ? argument + " takes a whole number above 0"
                    : takesValue ? argument + " takes a folder"
                                 : "unknown argument " + argument;
            return std::nullopt;
        }
    }
    if (!options.serial && !options.network && !options.merge && !options.shape && !options.mqtt) {
        error = "the options leave nothing to measure";
        return std::nullopt;
    }
    return options;
}

}  // namespace tavrel::bench
