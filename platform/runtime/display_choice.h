// Which display the process shows the device on, and the device's screen,
// from the environment: TAVREL_DISPLAY (auto, qt or headless), TAVREL_SCREEN
// (the screen's size in device pixels, WxH) and TAVREL_SCREEN_SCALE (how many
// host pixels a device pixel takes, an integer). A value that cannot be used
// is named in `problems`, one line each, and its default is kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class DisplayKind { Auto, Qt, Headless };

struct ScreenSize {
    int width = 240;
    int height = 320;
};

struct DisplayChoice {
    DisplayKind kind = DisplayKind::Auto;
    ScreenSize screen;
    int scale = 0;   // 0: the host screen's size decides
    std::vector<std::string> problems;
};

DisplayChoice DisplayChoiceFromEnvironment();

// "320x240" (64 to 4096 pixels each way); nothing for anything else.
std::optional<ScreenSize> ParseScreenSize(std::string_view text);
// "1" to "8"; nothing for anything else.
std::optional<int> ParseScreenScale(std::string_view text);

// Whether the environment names a display server (DISPLAY or WAYLAND_DISPLAY).
bool DisplayServerNamed();

}  // namespace platform
