// The run's shaped outputs: one shaper for each shape that some output has,
// so outputs that share a shape share its work, and each shaped line goes to
// every output of that shape. Transparent outputs get each chunk as it is,
// before any shaping, so they never wait for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "relay/output_shaper.h"
#include "state/output_options.h"

// Where a shaped stream goes: the virtual outputs by their index in the run's
// list, and the network outputs.
struct ShapeDestinations {
    std::vector<std::size_t> ports;
    bool tcp = false;   // the TCP server's clients and the servers the stream is sent to
    bool udp = false;
    bool mqtt = false;  // the MQTT publisher: the stream as it is, every sentence
};

struct ShapeGroup {
    OutputShaper shaper;
    ShapeDestinations to;
};

struct OutputShaping {
    ShapeDestinations transparent;   // what gets the stream as it is
    std::vector<ShapeGroup> groups;
    std::vector<unsigned char> shaped;   // one group's lines of one chunk
};

// Sorts the run's outputs by shape: `ports` holds each virtual output's
// shape in list order.
void StartShaping(OutputShaping& shaping, const std::vector<OutputShape>& ports, const OutputShape& tcp,
                  const OutputShape& udp);

// Whether any output is shaped.
bool Shaping(const OutputShaping& shaping);

// Hands `chunk` to each destination: first as it is to the transparent ones,
// then shaped to the others. `deliver` writes one stream to its destinations.
using ShapedDelivery = std::function<void(const ShapeDestinations&, std::span<const unsigned char>)>;
void DeliverShaped(OutputShaping& shaping, std::span<const unsigned char> chunk, std::uint64_t nowMs,
                   const ShapedDelivery& deliver);

// The input was lost: every shaper drops the partial line it holds.
void BreakShaping(OutputShaping& shaping);
