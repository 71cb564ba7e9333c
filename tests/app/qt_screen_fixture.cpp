#include "qt_screen_fixture.h"

#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QStyle>

#include "platform/resources.h"
#include "platform/user.h"
#include "platform/user_input.h"

namespace tavrel::testing {
namespace {

// The text that a widget draws; nothing for one that draws no text of its own.
std::optional<QString> DrawnText(const QWidget& widget)
{
    if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) {
        return group->title();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(&widget); label != nullptr && label->pixmap().isNull()) {
        return label->text();
    }
    return std::nullopt;
}

bool IsGroupBox(const QWidget& widget)
{
    return qobject_cast<const QGroupBox*>(&widget) != nullptr;
}

// Whether the text fits the widget's face: on one line, or wrapped where the
// control wraps it.
bool TextFits(const QWidget& widget, const QString& text, bool wraps, int scale)
{
    const QFontMetrics metrics(widget.font());
    // A static's text starts at its edge; a button keeps a little margin.
    const int margin = qobject_cast<const QLabel*>(&widget) != nullptr ? 0 : 2 * scale;
    QRect face = widget.rect().adjusted(margin, 0, -margin, 0);
    if (qobject_cast<const QCheckBox*>(&widget) != nullptr) {
        const int indicator = widget.style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                              widget.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        face.setLeft(indicator);
    }
    const int flags = wraps ? Qt::TextWordWrap : Qt::TextSingleLine;
    const QRect needed = metrics.boundingRect(face, flags, text);
    return needed.width() <= face.width() && (IsGroupBox(widget) || needed.height() <= face.height());
}

bool Wraps(const QWidget& widget, const platform::input::WindowState& state)
{
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        return label->wordWrap();
    }
    return (state.style & BS_MULTILINE) != 0;
}

void ExpectControlDrawn(const platform::qt::DeviceScreen& screen, const QWidget& dialog, const QWidget& control,
                        const platform::input::WindowState& state, const std::optional<std::u16string>& templateText)
{
    SCOPED_TRACE("control " + std::to_string(state.id));
    EXPECT_TRUE(dialog.rect().contains(control.geometry()))
        << control.geometry().x() << "," << control.geometry().y() << " " << control.width() << "x" << control.height();
    const std::optional<QString> drawn = DrawnText(control);
    if (!drawn) {
        return;
    }
    EXPECT_EQ(drawn->toStdU16String(), templateText.value_or(state.text));
    EXPECT_TRUE(TextFits(control, *drawn, Wraps(control, state), screen.Metrics().scale))
        << drawn->toStdString() << " in " << control.width() << "x" << control.height();
}

void ExpectNoOverlaps(const std::vector<const QWidget*>& controls)
{
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const QRect a = controls[i]->geometry();
            const QRect b = controls[j]->geometry();
            const bool framed = (IsGroupBox(*controls[i]) && a.contains(b)) || (IsGroupBox(*controls[j]) && b.contains(a));
            EXPECT_TRUE(!a.intersects(b) || framed) << "controls " << i << " and " << j << " overlap";
        }
    }
}

}  // namespace

std::filesystem::path PictureFolder()
{
    const std::filesystem::path folder = TAVREL_PICTURE_DIR;
    std::filesystem::create_directories(folder);
    return folder;
}

void ProgramOnQtScreen::SavePicture(HWND window, const std::string& name)
{
    ASSERT_NE(hands_.Find(window), nullptr) << name;
    hands_.Settle(window);
    const std::filesystem::path file = PictureFolder() / (name + ".png");
    EXPECT_TRUE(screen().grab().save(QString::fromStdString(file.string()))) << file;
}

void ExpectDrawnAsLaidOut(platform::qt::DeviceScreen& screen, HWND dialog, const DLGTEMPLATE* dialogTemplate)
{
    const QWidget* frame = screen.WidgetOf(dialog);
    ASSERT_NE(frame, nullptr);
    std::optional<platform::DialogTemplateContent> content;
    if (dialogTemplate != nullptr) {
        content = platform::ReadDialogTemplate(dialogTemplate, std::numeric_limits<std::size_t>::max());
        ASSERT_TRUE(content.has_value());
    }
    const std::vector<HWND> children = platform::input::Children(dialog);
    ASSERT_TRUE(!content || content->items.size() == children.size());
    std::vector<const QWidget*> controls;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const auto state = platform::input::Inspect(children[i]);
        const QWidget* control = screen.WidgetOf(children[i]);
        ASSERT_TRUE(state && control != nullptr) << "child " << i;
        std::optional<std::u16string> templateText;
        if (content && !content->items[i].textResource) {
            templateText = content->items[i].text;
        }
        ExpectControlDrawn(screen, *frame, *control, *state, templateText);
        controls.push_back(control);
    }
    ExpectNoOverlaps(controls);
}

}  // namespace tavrel::testing
