// The views of the control classes that the display knows (control_view.h
// chooses among them by class).
#pragma once

#include <memory>

#include "display/qt/control_view.h"

namespace platform::qt {

// Push button (multi-line text wrapped), check box, group box.
std::unique_ptr<ControlView> MakeButtonView(const input::WindowState& state, QWidget& window);
// Drop-down with an edit field, or drop-down list.
std::unique_ptr<ControlView> MakeComboBoxView(const input::WindowState& state, QWidget& window);
std::unique_ptr<ControlView> MakeListBoxView(const input::WindowState& state, QWidget& window);
// Text, or an icon (SS_ICON).
std::unique_ptr<ControlView> MakeStaticView(const input::WindowState& state, QWidget& window);

// A device text for Qt.
QString ToQString(const std::u16string& text);

}  // namespace platform::qt
