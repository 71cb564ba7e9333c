// Making windows of the built-in classes, for CreateWindowExW, dialogs and
// message boxes.
#pragma once

#include <string>

#include "user/window_table.h"

namespace platform::user {

// The kind of a class name ("BUTTON", "COMBOBOX", ...); known is false for
// a class this platform does not have.
WindowKind KindOfClass(const std::u16string& className, bool& known);
// Adds a window owned by the calling thread; sets its thread, enabled and
// visible states from its style, and shows it to the other processes when it
// is a top-level window.
HWND MakeWindow(Window window);

}  // namespace platform::user
