// The shell's state that a display shows: tray icons and the input panel.
#pragma once

#include <vector>

#include "platform/user_input.h"

namespace platform::shell {

std::vector<input::TrayIcon> TrayIcons();
bool InputPanelUp();

}  // namespace platform::shell
