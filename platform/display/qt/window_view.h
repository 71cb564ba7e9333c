// A top-level window of the device drawn at its place on the screen: a
// dialog with its controls (a message box also with the icon its style
// names), or a lone control such as the static text that a dialog owns. The
// dialog's control that has the keyboard focus shows it (focus_cue.h).
#pragma once

#include <map>
#include <memory>

#include <QFrame>
#include <QLabel>

#include "display/qt/control_view.h"
#include "display/qt/focus_cue.h"
#include "display/qt/screen_metrics.h"
#include "platform/user_input.h"

namespace platform::qt {

class WindowView {
public:
    WindowView(HWND handle, QWidget& screen);
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;

    void Sync(const input::WindowState& state, const ScreenMetrics& metrics);
    QWidget& Widget() { return frame_; }
    // The widget of this window or of one of its controls; null for another window.
    QWidget* WidgetOf(HWND window);

private:
    void SyncControls(const ScreenMetrics& metrics);
    ControlView& SyncControl(const input::WindowState& state, const ScreenMetrics& metrics);
    void SyncFrame(const input::WindowState& state, const ScreenMetrics& metrics);
    void SyncMessageBoxIcon(const input::WindowState& state, const ScreenMetrics& metrics);

    HWND handle_;
    QFrame frame_;
    QLabel messageIcon_;
    std::map<HWND, std::unique_ptr<ControlView>> controls_;
    FocusCue focusCue_;
};

}  // namespace platform::qt
