#include "display/qt/control_view.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>

#include "display/qt/control_kinds.h"
#include "platform/user.h"

namespace platform::qt {
namespace {

constexpr int kFocusInset = 2;   // device pixels

// A person's click that gives a widget the focus moves the control's focus
// too; focus that the display itself sets, or that comes back with the
// window's activation, is only a mirror of the window layer and moves nothing.
// Enter and Esc on the widget go to the window layer, whose dialog manager
// decides what they press, instead of to the widget.
class InputFeed final : public QObject {
public:
    explicit InputFeed(HWND control) : control_(control) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
            input::Focus(control_);
        }
        if (event->type() == QEvent::KeyPress) {
            if (const auto key = DialogKeyOf(*static_cast<QKeyEvent*>(event))) {
                input::PressKey(control_, *key);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    HWND control_;
};

}  // namespace

void ControlView::Sync(const input::WindowState& state, const ScreenMetrics& metrics)
{
    QWidget& widget = Widget();
    widget.setFont(metrics.font);
    widget.setGeometry(DrawnPlace(state, metrics));
    widget.setEnabled(state.enabled);
    SyncContent(state, metrics);
    widget.setVisible(state.visible);
    // The window layer's focus, unless a drop-down is open: moving the focus would close it.
    const QWidget* current = widget.window()->focusWidget();
    const bool hasIt = current != nullptr && (current == &widget || current == widget.focusProxy());
    if (state.focused && !hasIt && QApplication::activePopupWidget() == nullptr) {
        widget.setFocus(Qt::OtherFocusReason);
    }
}

QRect ControlView::FocusPlace(const ScreenMetrics& metrics)
{
    const int inset = metrics.Host(kFocusInset);
    return Widget().rect().adjusted(inset, inset, -inset, -inset);
}

QRect ControlView::DrawnPlace(const input::WindowState& state, const ScreenMetrics& metrics) const
{
    return metrics.Host(state.place);
}

void ControlView::Attach(QWidget* alsoWatched)
{
    QWidget& widget = Widget();
    widget.setProperty(kHandleProperty, QVariant::fromValue(reinterpret_cast<quintptr>(handle_)));
    inputFeed_ = std::make_unique<InputFeed>(handle_);
    widget.installEventFilter(inputFeed_.get());
    if (alsoWatched != nullptr) {
        alsoWatched->installEventFilter(inputFeed_.get());
    }
}

std::unique_ptr<ControlView> MakeControlView(const input::WindowState& state, QWidget& window)
{
    switch (state.kind) {
    case input::WindowKind::Button: return MakeButtonView(state, window);
    case input::WindowKind::ComboBox: return MakeComboBoxView(state, window);
    case input::WindowKind::ListBox: return MakeListBoxView(state, window);
    default: return MakeStaticView(state, window);
    }
}

std::optional<WPARAM> DialogKeyOf(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers others = event.modifiers() & ~Qt::KeypadModifier;
    if (others != Qt::NoModifier) {
        return std::nullopt;
    }
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    default: return std::nullopt;
    }
}

QString ToQString(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}

HWND HandleOfWidget(const QWidget& widget)
{
    const QVariant handle = widget.property(kHandleProperty);
    return handle.isValid() ? reinterpret_cast<HWND>(handle.value<quintptr>()) : nullptr;
}

}  // namespace platform::qt
