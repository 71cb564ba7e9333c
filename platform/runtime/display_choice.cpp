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

void ReadKind(DisplayChoice& choice)
{
    const auto value = Variable("TAVREL_DISPLAY");
    if (!value || *value == "auto") {
        return;
    }
    if (*value == "qt") {
        choice.kind = DisplayKind::Qt;
    } else if (*value == "headless") {
        choice.kind = DisplayKind::Headless;
    } else {
        choice.problems.push_back("TAVREL_DISPLAY='" + std::string(*value) +
                                  "' is none of auto, qt, headless; choosing automatically");
    }
}

void ReadScreen(DisplayChoice& choice)
{
    const auto value = Variable("TAVREL_SCREEN");
    if (!value) {
        return;
    }
    if (const auto size = ParseScreenSize(*value)) {
        choice.screen = *size;
    } else {
        choice.problems.push_back("TAVREL_SCREEN='" + std::string(*value) + "' is not WIDTHxHEIGHT with " +
                                  std::to_string(kSmallestSide) + " to " + std::to_string(kLargestSide) +
                                  " pixels each way; the screen is 240x320");
    }
}

void ReadScale(DisplayChoice& choice)
{
    const auto value = Variable("TAVREL_SCREEN_SCALE");
    if (!value) {
        return;
    }
    if (const auto scale = ParseScreenScale(*value)) {
        choice.scale = *scale;
    } else {
        choice.problems.push_back("TAVREL_SCREEN_SCALE='" + std::string(*value) + "' is not a whole number from 1 to " +
                                  std::to_string(kLargestScale) + "; the host screen's size decides");
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
    ReadKind(choice);
    ReadScreen(choice);
    ReadScale(choice);
    return choice;
}

bool DisplayServerNamed()
{
    return Variable("DISPLAY") || Variable("WAYLAND_DISPLAY");
}

}  // namespace platform
