// A control of a device window shown as a real Qt widget: made for the
// control's class and style, following what the window layer says of it, and
// turning a person's input on it into the calls of platform/user_input.h,
// which queue it to the control's own thread. The widget never changes the
// control by itself: what it shows comes back from the window layer.
#pragma once

#include <memory>
#include <optional>

#include <QKeyEvent>
#include <QObject>
#include <QRect>
#include <QWidget>

#include "display/qt/screen_metrics.h"
#include "platform/user_input.h"

namespace platform::qt {

// The name of the widget property that holds the device window's handle.
inline constexpr const char* kHandleProperty = "deviceWindow";

class ControlView {
public:
    explicit ControlView(HWND handle) : handle_(handle) {}
    virtual ~ControlView() = default;
    ControlView(const ControlView&) = delete;
    ControlView& operator=(const ControlView&) = delete;

    HWND Handle() const { return handle_; }
    virtual QWidget& Widget() = 0;
    // Whether this view still suits a control of that class and style.
    virtual bool Shows(const input::WindowState& state) const = 0;
    // Place, font, enabled and shown, then what the control holds.
    void Sync(const input::WindowState& state, const ScreenMetrics& metrics);
    // Where the focus is drawn while the control has it, in the widget's own
    // coordinates: where the host's style puts its focus frame, or by
    // default two device pixels inside the widget.
    virtual QRect FocusPlace(const ScreenMetrics& metrics);

protected:
    virtual void SyncContent(const input::WindowState& state, const ScreenMetrics& metrics) = 0;
    // Where the widget goes in its window, in host pixels; the control's place by default.
    virtual QRect DrawnPlace(const input::WindowState& state, const ScreenMetrics& metrics) const;
    // Makes the widget known by the handle, and a person's mouse focus on it
    // (or on `alsoWatched`, a part of it) move the control's focus; Enter and
    // Esc on it are pressed in the window layer.
    void Attach(QWidget* alsoWatched = nullptr);

private:
    HWND handle_;
    std::unique_ptr<QObject> inputFeed_;
};

// The view for a control of this class and style, a child of `window`. A
// class that the display does not know shows as a static text.
std::unique_ptr<ControlView> MakeControlView(const input::WindowState& state, QWidget& window);

// The virtual key of Enter or Esc pressed alone; nothing for any other key.
std::optional<WPARAM> DialogKeyOf(const QKeyEvent& event);

// The handle that a widget shows, or null.
HWND HandleOfWidget(const QWidget& widget);

}  // namespace platform::qt
