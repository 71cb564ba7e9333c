// Combo boxes and list boxes. Their entries, selection and edit text always
// come from the window layer; a person's choice and typing go to it as input
// and come back as its answer.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "display/qt/control_kinds.h"
#include "display/qt/edit_feed.h"
#include "platform/user.h"

namespace platform::qt {
namespace {

// A closed combo box is one line high; the rest of its place is its drop-down.
constexpr int kClosedComboHeight = 20;   // device pixels

QStringList EntriesOf(const input::WindowState& state)
{
    QStringList entries;
    for (const std::u16string& entry : state.entries) {
        entries.push_back(ToQString(entry));
    }
    return entries;
}

// The texts a widget lists, by index.
template <typename TextAt>
QStringList ListedTexts(int count, TextAt textAt)
{
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        texts.push_back(textAt(i));
    }
    return texts;
}

bool IsEditable(const input::WindowState& state)
{
    return (state.style & 0x3) == CBS_DROPDOWN;
}

class ComboBoxView final : public QComboBox, public ControlView {
public:
    ComboBoxView(HWND handle, QWidget& window, bool editable) : QComboBox(&window), ControlView(handle)
    {
        setEditable(editable);
        setInsertPolicy(QComboBox::NoInsert);
        connect(this, &QComboBox::activated, this, [this](int index) { input::ChooseEntry(Handle(), index); });
        if (QLineEdit* field = lineEdit()) {
            setCompleter(nullptr);
            connect(field, &QLineEdit::textEdited, this, [this](const QString& text) { edits_.Edited(text); });
        }
        Attach(lineEdit());
    }

    QWidget& Widget() override { return *this; }
    bool Shows(const input::WindowState& state) const override { return IsEditable(state) == isEditable(); }
    QRect FocusPlace(const ScreenMetrics&) override
    {
        QStyleOptionComboBox option;
        initStyleOption(&option);
        return style()->subElementRect(QStyle::SE_ComboBoxFocusRect, &option, this);
    }

protected:
    void SyncContent(const input::WindowState& state, const ScreenMetrics& metrics) override
    {
        const QSignalBlocker quiet(this);
        QLineEdit* field = lineEdit();
        const QString shown = field != nullptr ? field->text() : QString();
        const QStringList entries = EntriesOf(state);
        if (Entries() != entries) {
            clear();
            addItems(entries);
        }
        if (currentIndex() != state.selection) {
            setCurrentIndex(state.selection);   // also puts the entry's text in an edit field
        }
        if (field != nullptr) {
            const QString layer = ToQString(state.text);
            const QString wanted = edits_.ShouldShow(layer) ? layer : shown;
            if (field->text() != wanted) {
                field->setText(wanted);
            }
        }
        const int listHeight = metrics.Host(state.place.bottom - state.place.top - kClosedComboHeight);
        const int lineHeight = std::max(1, view()->sizeHintForRow(0));
        setMaxVisibleItems(std::max(1, listHeight / lineHeight));
    }

    QRect DrawnPlace(const input::WindowState& state, const ScreenMetrics& metrics) const override
    {
        QRect place = metrics.Host(state.place);
        place.setHeight(std::min(place.height(), metrics.Host(kClosedComboHeight)));
        return place;
    }

private:
    QStringList Entries() const
    {
        return ListedTexts(count(), [this](int i) { return itemText(i); });
    }

    EditFeed edits_{Handle()};
};

class ListBoxView final : public QListWidget, public ControlView {
public:
    ListBoxView(HWND handle, QWidget& window) : QListWidget(&window), ControlView(handle)
    {
        setSelectionMode(QAbstractItemView::SingleSelection);
        connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
            if (row >= 0) {
                input::ChooseEntry(Handle(), row);
            }
        });
        connect(this, &QListWidget::itemDoubleClicked, this,
                [this](QListWidgetItem* item) { input::DoubleClickEntry(Handle(), row(item)); });
        Attach();
    }

    QWidget& Widget() override { return *this; }
    bool Shows(const input::WindowState&) const override { return true; }

protected:
    void SyncContent(const input::WindowState& state, const ScreenMetrics&) override
    {
        const QSignalBlocker quiet(this);
        setFrameShape((state.style & WS_BORDER) != 0 ? QFrame::StyledPanel : QFrame::NoFrame);
        setVerticalScrollBarPolicy((state.style & WS_VSCROLL) != 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        const QStringList entries = EntriesOf(state);
        if (Entries() != entries) {
            clear();
            addItems(entries);
        }
        if (state.selection < 0) {
            clearSelection();
        }
        setCurrentRow(state.selection);
    }

private:
    QStringList Entries() const
    {
        return ListedTexts(count(), [this](int i) { return item(i)->text(); });
    }
};

}  // namespace

std::unique_ptr<ControlView> MakeComboBoxView(const input::WindowState& state, QWidget& window)
{
    return std::make_unique<ComboBoxView>(state.handle, window, IsEditable(state));
}

std::unique_ptr<ControlView> MakeListBoxView(const input::WindowState& state, QWidget& window)
{
    return std::make_unique<ListBoxView>(state.handle, window);
}

}  // namespace platform::qt
