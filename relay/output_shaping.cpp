#include "relay/output_shaping.h"

namespace {

ShapeDestinations& DestinationsOf(OutputShaping& shaping, const OutputShape& shape)
{
    if (shape.Transparent()) {
        return shaping.transparent;
    }
    for (ShapeGroup& group : shaping.groups) {
        if (group.shaper.Shape() == shape) {
            return group.to;
        }
    }
    return shaping.groups.emplace_back(ShapeGroup{OutputShaper(shape), {}}).to;
}

bool Empty(const ShapeDestinations& to)
{
    return to.ports.empty() && !to.tcp && !to.udp && !to.mqtt;
}

}  // namespace

void StartShaping(OutputShaping& shaping, const std::vector<OutputShape>& ports, const OutputShape& tcp,
                  const OutputShape& udp)
{
    shaping.transparent = {};
    shaping.groups.clear();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        DestinationsOf(shaping, ports[i]).ports.push_back(i);
    }
    DestinationsOf(shaping, tcp).tcp = true;
    DestinationsOf(shaping, udp).udp = true;
    shaping.transparent.mqtt = true;
}

bool Shaping(const OutputShaping& shaping)
{
    return !shaping.groups.empty();
}

void DeliverShaped(OutputShaping& shaping, std::span<const unsigned char> chunk, std::uint64_t nowMs,
                   const ShapedDelivery& deliver)
{
    if (!Empty(shaping.transparent)) {
        deliver(shaping.transparent, chunk);
    }
    for (ShapeGroup& group : shaping.groups) {
        shaping.shaped.clear();
        group.shaper.Feed(chunk, nowMs, shaping.shaped);
        if (!shaping.shaped.empty()) {
            deliver(group.to, shaping.shaped);
        }
    }
}

void BreakShaping(OutputShaping& shaping)
{
    for (ShapeGroup& group : shaping.groups) {
        group.shaper.Break();
    }
}
