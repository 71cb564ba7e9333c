#include "display/qt/window_view.h"

#include <set>

#include "display/qt/icon_pixmaps.h"
#include "platform/user.h"

namespace platform::qt {
namespace {

// A message box's icon sits left of its text, which starts 45 pixels in.
constexpr int kMessageIconPlace = 9;   // device pixels from the top left
constexpr int kMessageIconSide = 32;

bool IsDialog(const input::WindowState& state)
{
    return state.kind == input::WindowKind::Dialog;
}

bool CoversTheScreen(const input::WindowState& state, const ScreenMetrics& metrics)
{
    return state.place.left <= 0 && state.place.top <= 0 && state.place.right >= metrics.width &&
           state.place.bottom >= metrics.height;
}

}  // namespace

WindowView::WindowView(HWND handle, QWidget& screen)
    : handle_(handle), frame_(&screen), messageIcon_(&frame_), focusCue_(frame_)
{
    frame_.setProperty(kHandleProperty, QVariant::fromValue(reinterpret_cast<quintptr>(handle)));
    // A window has the colours of a window, not of the desktop under it.
    frame_.setBackgroundRole(QPalette::Window);
    frame_.setForegroundRole(QPalette::WindowText);
    messageIcon_.hide();
}

void WindowView::Sync(const input::WindowState& state, const ScreenMetrics& metrics)
{
    SyncFrame(state, metrics);
    if (IsDialog(state)) {
        SyncControls(metrics);
    } else {
        // A window of a control class on its own: the control fills it.
        input::WindowState control = state;
        control.place = RECT{0, 0, state.place.right - state.place.left, state.place.bottom - state.place.top};
        SyncControl(control, metrics);
    }
    SyncMessageBoxIcon(state, metrics);
    frame_.setVisible(state.visible);
    if (state.focused && state.visible) {
        // The dialog itself has the keyboard focus: no control keeps Qt's,
        // so keys go to the screen, which hands them to the window in front.
        if (QWidget* held = frame_.window()->focusWidget(); held != nullptr && held != frame_.window()) {
            held->clearFocus();
        }
    }
}

QWidget* WindowView::WidgetOf(HWND window)
{
    // A lone control is known by the window's own handle too: its widget is the one that shows it.
    if (const auto found = controls_.find(window); found != controls_.end()) {
        return &found->second->Widget();
    }
    return window == handle_ ? &frame_ : nullptr;
}

void WindowView::SyncFrame(const input::WindowState& state, const ScreenMetrics& metrics)
{
    frame_.setGeometry(metrics.Host(state.place));
    frame_.setAutoFillBackground(IsDialog(state));
    // A dialog smaller than the screen stands out from what lies under it.
    const bool framed = IsDialog(state) && !CoversTheScreen(state, metrics);
    frame_.setFrameStyle(framed ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
    frame_.setLineWidth(metrics.scale);
}

void WindowView::SyncControls(const ScreenMetrics& metrics)
{
    std::set<HWND> present;
    QRect focusPlace;
    for (HWND child : input::Children(handle_)) {
        if (const auto state = input::Inspect(child)) {
            present.insert(child);
            ControlView& view = SyncControl(*state, metrics);
            if (state->focused && state->visible) {
                focusPlace = view.FocusPlace(metrics).translated(view.Widget().pos());
            }
        }
    }
    std::erase_if(controls_, [&](const auto& entry) { return present.count(entry.first) == 0; });
    focusCue_.Follow(focusPlace, metrics.scale);
}

ControlView& WindowView::SyncControl(const input::WindowState& state, const ScreenMetrics& metrics)
{
    auto& view = controls_[state.handle];
    if (view == nullptr || !view->Shows(state)) {
        view = MakeControlView(state, frame_);
    }
    view->Sync(state, metrics);
    return *view;
}

void WindowView::SyncMessageBoxIcon(const input::WindowState& state, const ScreenMetrics& metrics)
{
    const QPixmap icon =
        state.isMessageBox ? MessageBoxIcon(state.messageBoxType, metrics.Host(kMessageIconSide)) : QPixmap();
    messageIcon_.setPixmap(icon);
    messageIcon_.setGeometry(metrics.Host(kMessageIconPlace), metrics.Host(kMessageIconPlace), icon.width(),
                             icon.height());
    messageIcon_.setVisible(!icon.isNull());
}

}  // namespace platform::qt
