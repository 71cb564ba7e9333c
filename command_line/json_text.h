// JSON for the commands that print it (tavrel-status, tavrel-config list
// --json): strings escaped so that any bytes make valid JSON, objects written
// member by member.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::command_line {

// A JSON string: quotes, backslashes and control characters escaped, and any
// byte that is not part of valid UTF-8 replaced by U+FFFD, so that the whole
// text is valid JSON whatever a path holds.
std::string Quoted(std::string_view text);

// The members of one JSON object, written in order.
class JsonObject {
public:
    JsonObject& Number(std::string_view name, std::uint64_t value) { return Raw(name, std::to_string(value)); }
    JsonObject& Bool(std::string_view name, bool value) { return Raw(name, value ? "true" : "false"); }
    JsonObject& Text(std::string_view name, std::string_view value) { return Raw(name, Quoted(value)); }
    // An empty text is given as null: "none", not "a name that is empty".
    JsonObject& TextOrNull(std::string_view name, std::string_view value)
    {
        return value.empty() ? Raw(name, "null") : Text(name, value);
    }
    JsonObject& Raw(std::string_view name, std::string_view json)
    {
        text_ += text_.empty() ? "{" : ",";
        text_ += Quoted(name) + ":";
        text_ += json;
        return *this;
    }
    std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    std::string text_;
};

template <typename Item, typename ToJson>
std::string JsonArray(const std::vector<Item>& items, ToJson toJson)
{
    std::string text = "[";
    for (const Item& item : items) {
        text += text.size() > 1 ? "," : "";
        text += toJson(item);
    }
    return text + "]";
}

}  // namespace tavrel::command_line
