// Buttons: a push button (its text wrapped over several lines when its style
// asks for it), a check box whose check only the window layer changes, and a
// group box that lies under the controls it frames and takes no input.
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "display/qt/control_kinds.h"
#include "platform/user.h"

namespace platform::qt {
namespace {

enum class ButtonType { Push, CheckBox, GroupBox };

ButtonType TypeOf(DWORD style)
{
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: return ButtonType::CheckBox;
    case BS_GROUPBOX: return ButtonType::GroupBox;
    default: return ButtonType::Push;
    }
}

class PushButtonView final : public QPushButton, public ControlView {
public:
    PushButtonView(HWND handle, QWidget& window) : QPushButton(&window), ControlView(handle)
    {
        setAutoDefault(false);
        connect(this, &QPushButton::clicked, this, [this] { input::Click(Handle()); });
        Attach();
    }

    QWidget& Widget() override { return *this; }
    bool Shows(const input::WindowState& state) const override { return TypeOf(state.style) == ButtonType::Push; }

    QRect FocusPlace(const ScreenMetrics&) override
    {
        QStyleOptionButton option;
        initStyleOption(&option);
        return style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
    }

protected:
    void SyncContent(const input::WindowState& state, const ScreenMetrics&) override
    {
        multiLine_ = (state.style & BS_MULTILINE) != 0;
        if (text() != ToQString(state.text)) {
            setText(ToQString(state.text));
        }
        update();
    }

    void paintEvent(QPaintEvent* event) override
    {
        if (!multiLine_) {
            QPushButton::paintEvent(event);
            return;
        }
        // The frame as the style draws it, the text wrapped and centred both ways.
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, &option, this) / 2;
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        painter.drawText(rect().adjusted(margin, margin, -margin, -margin), Qt::AlignCenter | Qt::TextWordWrap, text());
    }

private:
    bool multiLine_ = false;
};

class CheckBoxView final : public QCheckBox, public ControlView {
public:
    CheckBoxView(HWND handle, QWidget& window) : QCheckBox(&window), ControlView(handle)
    {
        connect(this, &QCheckBox::clicked, this, [this] { input::Click(Handle()); });
        Attach();
    }

    QWidget& Widget() override { return *this; }
    bool Shows(const input::WindowState& state) const override
    {
        return TypeOf(state.style) == ButtonType::CheckBox;
    }
    // Around the text, as the device draws it.
    QRect FocusPlace(const ScreenMetrics&) override
    {
        QStyleOptionButton option;
        initStyleOption(&option);
        return style()->subElementRect(QStyle::SE_CheckBoxFocusRect, &option, this);
    }

protected:
    void SyncContent(const input::WindowState& state, const ScreenMetrics&) override
    {
        setText(ToQString(state.text));
        setChecked(state.checked);
    }

    // The click goes to the window layer, whose answer sets the check.
    void nextCheckState() override {}
};

class GroupBoxView final : public QGroupBox, public ControlView {
public:
    GroupBoxView(HWND handle, QWidget& window) : QGroupBox(&window), ControlView(handle)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        Attach();
    }

    QWidget& Widget() override { return *this; }
    bool Shows(const input::WindowState& state) const override
    {
        return TypeOf(state.style) == ButtonType::GroupBox;
    }

protected:
    void SyncContent(const input::WindowState& state, const ScreenMetrics&) override
    {
        setTitle(ToQString(state.text));
        lower();   // under the controls that it frames
    }
};

}  // namespace

std::unique_ptr<ControlView> MakeButtonView(const input::WindowState& state, QWidget& window)
{
    switch (TypeOf(state.style)) {
    case ButtonType::CheckBox: return std::make_unique<CheckBoxView>(state.handle, window);
    case ButtonType::GroupBox: return std::make_unique<GroupBoxView>(state.handle, window);
    case ButtonType::Push: break;
    }
    return std::make_unique<PushButtonView>(state.handle, window);
}

}  // namespace platform::qt
