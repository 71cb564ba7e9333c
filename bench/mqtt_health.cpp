#include "bench/mqtt_health.h"

#include <charconv>
#include <string>

namespace tavrel::bench {
namespace {

// The text just past `"name":` in `object`; nothing when it is not there.
std::optional<std::string_view> ValueOf(std::string_view object, std::string_view name)
{
    std::string key(1, '"');
    key.append(name).append("\":");
    const std::size_t at = object.find(key);
    return at == std::string_view::npos ? std::nullopt : std::optional(object.substr(at + key.size()));
}

std::optional<std::uint64_t> NumberAt(std::optional<std::string_view> value)
{
    std::uint64_t number = 0;
    if (!value || std::from_chars(value->data(), value->data() + value->size(), number).ec != std::errc{}) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::optional<MqttHealthFigures> MqttHealthOf(std::string_view json)
{
    const std::optional<std::string_view> object = ValueOf(json, "mqtt");
    if (!object || !object->starts_with("{")) {
        return std::nullopt;
    }
    const std::optional<std::string_view> connected = ValueOf(*object, "connected");
    const std::optional<std::uint64_t> published = NumberAt(ValueOf(*object, "published"));
    const std::optional<std::uint64_t> dropped = NumberAt(ValueOf(*object, "dropped"));
    if (!connected || !published || !dropped) {
        return std::nullopt;
    }
    return MqttHealthFigures{connected->starts_with("true"), *published, *dropped};
}

}  // namespace tavrel::bench
