#include "bench/shape_section.h"

#include <array>
#include <cstdio>
#include <memory>

#include "bench/attempt.h"
#include "bench/shape_cost_run.h"
#include "bench/talk_run.h"
#include "bench/tavrel_device.h"
#include "bench/tavrel_relay.h"

namespace tavrel::bench {
namespace {

// Tavrel's baud setting for 38400 in its bench device.
constexpr int kBaudIndex38400 = 9;
constexpr int kShapedPorts = 9;
constexpr int kTalkingPorts = 3;

using Command = std::vector<std::string>;

struct PortShape {
    const char* words;
    std::vector<Command> commands;   // tavrel-config port COMn <command>
};

const std::array<PortShape, 3>& Shapes()
{
    static const std::array<PortShape, 3> shapes = {{
        {"only GGA,RMC; talker GN:GP", {{"only", "GGA,RMC"}, {"talker", "GN:GP"}}},
        {"checksum on; deny !AIVDM", {{"checksum", "on"}, {"deny", "!AIVDM"}}},
        {"every GSV 5000, RMC 1000; checksum on",
         {{"every", "GSV", "5000"}, {"every", "RMC", "1000"}, {"checksum", "on"}}},
    }};
    return shapes;
}

const PortShape& ShapeOfPort(std::size_t port)
{
    return Shapes()[port * Shapes().size() / kShapedPorts];
}

void Configure(TavrelRelay& relay, int port, const Command& command)
{
    Command words = {"port", "COM" + std::to_string(port)};
    words.insert(words.end(), command.begin(), command.end());
    relay.Configure(words);
}

void ShapePorts(TavrelRelay& relay)
{
    const std::vector<int> numbers = OutputNumbers(kShapedPorts);
    for (std::size_t port = 0; port < numbers.size(); ++port) {
        for (const Command& command : ShapeOfPort(port).commands) {
            Configure(relay, numbers[port], command);
        }
    }
}

ShapeCostResult CostRun(bool shaped, std::chrono::seconds length)
{
    ShapeCostResult result;
    for (std::size_t port = 0; port < kShapedPorts; ++port) {
        result.portShapes.emplace_back(shaped ? ShapeOfPort(port).words : "");
    }
    std::fprintf(stderr, "shaping cost: Tavrel, %s, for %d s\n", shaped ? "shaped" : "transparent",
                 static_cast<int>(length.count()));
    result.figures = Attempt<ShapeCostFigures>(
        [&](const std::filesystem::path& folder, const InputLine& input) -> std::unique_ptr<Relay> {
            auto relay = std::make_unique<TavrelRelay>(folder, input.tty(), kShapedPorts, kBaudIndex38400);
            if (shaped) {
                ShapePorts(*relay);
            }
            return relay;
        },
        [&](Relay& relay, const InputLine& input) { return MeasureShapeCost(relay, input, length); },
        result.failure);
    return result;
}

TalkResult TalkRun(const TalkPlan& plan)
{
    std::fprintf(stderr, "talk back: Tavrel, %zu lines at 100 ms, then a %d s flood\n", plan.latencyLines,
                 static_cast<int>(plan.flood.count()));
    TalkResult result;
    result.figures = Attempt<TalkFigures>(
        [&](const std::filesystem::path& folder, const InputLine& input) -> std::unique_ptr<Relay> {
            auto relay = std::make_unique<TavrelRelay>(folder, input.tty(), kTalkingPorts, kBaudIndex38400);
            for (const int number : OutputNumbers(kTalkingPorts)) {
                Configure(*relay, number, {"talk", "lines"});
            }
            return relay;
        },
        [&](Relay& relay, const InputLine& input) { return MeasureTalk(relay, input, plan); },
        result.failure);
    return result;
}

}  // namespace

ShapeResults MeasureShapeSection(const Options& options)
{
    using namespace std::chrono_literals;
    const std::chrono::seconds length(options.shapeSeconds);
    ShapeResults results;
    results.unshaped = CostRun(false, length);
    results.shaped = CostRun(true, length);
    results.talk = TalkRun(options.quick ? TalkPlan{50, 5s} : TalkPlan{200, 10s});
    return results;
}

}  // namespace tavrel::bench
