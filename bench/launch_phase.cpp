// Launch → first byte: from exec until every output has read a byte.
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "bench/phases.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

Clock::time_point Latest(const std::vector<std::optional<Clock::time_point>>& times)
{
    Clock::time_point latest{};
    for (const auto& time : times) {
        latest = std::max(latest, time.value_or(Clock::time_point{}));
    }
    return latest;
}

std::string Missing(const std::vector<std::optional<Clock::time_point>>& firstBytes, const OutputReaders& readers)
{
    std::string missing;
    for (std::size_t i = 0; i < firstBytes.size(); ++i) {
        if (!firstBytes[i]) {
            missing += " " + std::to_string(i) + (readers.IsOpen(i) ? "" : " (never opened)");
        }
    }
    return missing;
}

}  // namespace

LaunchFigures MeasureLaunch(Relay& relay, const InputLine& input, OutputReaders& readers,
                            std::chrono::seconds timeout, std::string_view trickle)
{
    // The input keeps sending, as a receiver does, so the first byte comes as soon as the relay passes one on.
    std::jthread sender([&input, trickle](std::stop_token stop) {
        const std::span bytes(reinterpret_cast<const unsigned char*>(trickle.data()), trickle.size());
        while (!stop.stop_requested()) {
            input.WriteNow(bytes);
            std::this_thread::sleep_for(1ms);
        }
    });
    const Clock::time_point exec = Clock::now();
    relay.Launch();
    std::vector<std::optional<Clock::time_point>> opened(readers.size());
    std::vector<std::optional<Clock::time_point>> firstBytes(readers.size());
    const auto pending = [&] { return std::count(firstBytes.begin(), firstBytes.end(), std::nullopt) > 0; };
    while (pending() && Clock::now() < exec + timeout) {
        // A port that is only probed goes away again; the one that stays is the one timed.
        for (const std::size_t output : readers.OpenMissing()) {
            opened[output] = Clock::now();
            firstBytes[output].reset();
        }
        readers.Read(1ms, [&](std::size_t output, std::span<const unsigned char>, Clock::time_point seen) {
            firstBytes[output] = firstBytes[output].value_or(seen);
        });
    }
    if (pending()) {
        throw std::runtime_error("no byte reached output(s)" + Missing(firstBytes, readers) + " within " +
                                 std::to_string(timeout.count()) + " s of the launch");
    }
    return {Milliseconds(Latest(opened) - exec), Milliseconds(Latest(firstBytes) - exec)};
}

}  // namespace tavrel::bench
