// The publisher's part of Tavrel's health, as tavrel-status --json gives it:
// `"mqtt":{"broker":...,"connected":true,"published":N,"dropped":N,...}`.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrel::bench {

struct MqttHealthFigures {
    bool connected = false;
    std::uint64_t published = 0;
    std::uint64_t dropped = 0;
};

// Nothing when the text holds no publisher's health (no broker set, or no answer).
std::optional<MqttHealthFigures> MqttHealthOf(std::string_view json);

}  // namespace tavrel::bench
