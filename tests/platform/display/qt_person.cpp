#include "qt_person.h"

#include <algorithm>
#include <cstdlib>

#include <QAbstractItemView>
#include <QComboBox>
#include <QListWidget>
#include <QTest>

#include "platform/user_input.h"

namespace tavrel::testing {
namespace {

constexpr int kQtWaitSlice = 10;   // milliseconds

}  // namespace

QtTestApplication::QtTestApplication()
{
    // No X server in a test run: Qt draws offscreen unless told otherwise.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    application_ = std::make_unique<QApplication>(argc_, argv_);
}

QtTestApplication::~QtTestApplication() = default;

QtScreenInPlace::QtScreenInPlace(int width, int height, int scale, platform::qt::HostTrayUse hostTray)
    : display_(std::make_shared<platform::qt::QtDisplay>(width, height)), previous_(platform::CurrentDisplay())
{
    platform::SetDisplay(display_);
    screen_ = std::make_unique<platform::qt::DeviceScreen>(display_, platform::qt::MakeScreenMetrics(width, height, scale),
                                                           hostTray);
}

QtScreenInPlace::~QtScreenInPlace()
{
    platform::SetDisplay(previous_);
    screen_.reset();
}

QImage PictureOf(QWidget& screen, const QWidget& part)
{
    return screen.grab(QRect(part.mapTo(&screen, QPoint(0, 0)), part.size())).toImage();
}

int DifferingPixels(const QImage& before, const QImage& after)
{
    int differing = std::abs(before.width() * before.height() - after.width() * after.height());
    for (int y = 0; y < std::min(before.height(), after.height()); ++y) {
        for (int x = 0; x < std::min(before.width(), after.width()); ++x) {
            differing += before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
        }
    }
    return differing;
}

QWidget* QtPerson::Find(HWND window)
{
    // What changed until now is on the screen before the person looks.
    QCoreApplication::processEvents();
    QWidget* found = nullptr;
    WaitUntil([&] {
        found = screen_.WidgetOf(window);
        return found != nullptr && found->isVisible();
    });
    return found;
}

void QtPerson::Click(HWND control)
{
    QWidget* widget = Find(control);
    if (widget == nullptr) {
        return;
    }
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
    Settle(control);
}

void QtPerson::ChooseEntry(HWND control, int index)
{
    QWidget* widget = Find(control);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        QTest::mouseClick(combo, Qt::LeftButton, Qt::NoModifier, combo->rect().center());
        QAbstractItemView* list = combo->view();
        if (!WaitUntil([&] { return list->isVisible(); })) {
            return;
        }
        // An open drop-down takes no release until a (coarse, so up to 5 %
        // late) timer of a double click's time has run out, so that the press
        // that opened it cannot choose an entry at once.
        QTest::qWait(2 * QApplication::doubleClickInterval());
        const QRect entry = list->visualRect(list->model()->index(index, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, entry.center());
    } else if (auto* box = qobject_cast<QListWidget*>(widget)) {
        const QRect entry = box->visualItemRect(box->item(index));
        QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, entry.center());
    }
    Settle(control);
}

void QtPerson::Type(HWND control, const QString& text)
{
    if (QWidget* widget = Find(control)) {
        QTest::keyClicks(widget, text);
    }
    Settle(control);
}

void QtPerson::PressKey(HWND control, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    if (QWidget* widget = Find(control)) {
        QTest::keyClick(widget, key, modifiers);
    }
    Settle(control);
}

void QtPerson::PressKeyWhereTheFocusIs(HWND window, Qt::Key key)
{
    QCoreApplication::processEvents();
    QWidget* focused = screen_.focusWidget();
    QTest::keyClick(focused != nullptr ? focused : &screen_, key);
    Settle(window);
}

void QtPerson::PressCaptionOk(HWND window)
{
    Find(window);
    QTest::mouseClick(&screen_.Caption().OkButton(), Qt::LeftButton);
    Settle(window);
}

void QtPerson::PressCloseBox(HWND window)
{
    Find(window);
    QTest::mouseClick(&screen_.Caption().CloseBox(), Qt::LeftButton);
    Settle(window);
}

void QtPerson::TapTrayIcon(HWND owner, UINT id)
{
    QToolButton* button = nullptr;
    WaitUntil([&] {
        button = screen_.Tasks().Button(owner, id);
        return button != nullptr && button->isVisible();
    });
    if (button != nullptr) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    Settle(owner);
}

bool QtPerson::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

void QtPerson::Settle(HWND window)
{
    platform::input::WaitForIdle(window);
    // The window layer told the display; let the screen show it.
    QTest::qWait(kQtWaitSlice);
    screen_.Refresh();
}

}  // namespace tavrel::testing
