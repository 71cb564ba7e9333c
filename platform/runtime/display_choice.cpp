// The display choice from the environment; each variable has a default.
#include "runtime/display_choice.h"

#include <charconv>
#include <cstdlib>

namespace platform {
namespace {

constexpr int kSmallestSide = 64;
constexpr int kLargestSide = 4096;
constexpr int kLargestScale = 8;

std::optional<int> WholeNumber(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || text.front() == '-') {
        return std::nullopt;
    }
    return value;
}

// A variable that is set and not empty.
std::optional<std::string_view> Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::optional<std::string_view>(value) : std::nullopt;
}

std::optional<DisplayKind> ParseKind(std::string_view text)
{
    if (text == "auto") {
        return DisplayKind::Auto;
    }
    if (text == "qt") {
        return DisplayKind::Qt;
    }
    return text == "headless" ? std::optional(DisplayKind::Headless) : std::nullopt;
}

// Takes the variable's value into `into` when it parses; otherwise names it
// in `problems`, saying what it should be and what happens instead.
template <typename Value>
void Read(const char* name, std::optional<Value> (*parse)(std::string_view), Value& into, const std::string& refusal,
          std::vector<std::string>& problems)
{
    const auto text = Variable(name);
    if (!text) {
        return;
    }
    if (const auto value = parse(*text)) {
        into = *value;
    } else {
        problems.push_back(std::string(name) + "='" + std::string(*text) + "' " + refusal);
    }
}

}  // namespace

std::optional<ScreenSize> ParseScreenSize(std::string_view text)
{
    const std::size_t cross = text.find('x');
    if (cross == std::string_view::npos) {
        return std::nullopt;
    }
    const auto width = WholeNumber(text.substr(0, cross));
    const auto height = WholeNumber(text.substr(cross + 1));
    const auto fits = [](int side) { return side >= kSmallestSide && side <= kLargestSide; };
    if (!width || !height || !fits(*width) || !fits(*height)) {
        return std::nullopt;
    }
    return ScreenSize{*width, *height};
}

std::optional<int> ParseScreenScale(std::string_view text)
{
    const auto scale = WholeNumber(text);
    return scale && *scale >= 1 && *scale <= kLargestScale ? scale : std::nullopt;
}

DisplayChoice DisplayChoiceFromEnvironment()
{
    DisplayChoice choice;
    Read("TAVREL_DISPLAY", ParseKind, choice.kind, "is none of auto, qt, headless; choosing automatically",
         choice.problems);
    Read("TAVREL_SCREEN", ParseScreenSize, choice.screen,
         "is not WIDTHxHEIGHT with " + std::to_string(kSmallestSide) + " to " + std::to_string(kLargestSide) +
             " pixels each way; the screen is 240x320",
         choice.problems);
    Read("TAVREL_SCREEN_SCALE", ParseScreenScale, choice.scale,
         "is not a whole number from 1 to " + std::to_string(kLargestScale) + "; the host screen's size decides",
         choice.problems);
    return choice;
}

bool DisplayServerNamed()
{
    return Variable("DISPLAY") || Variable("WAYLAND_DISPLAY");
}

}  // namespace platform
