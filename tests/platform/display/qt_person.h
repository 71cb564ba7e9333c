// A person in front of the qt display, for tests: Qt on the offscreen
// platform (unless QT_QPA_PLATFORM names another), the device's screen in
// place of the current display, and a person who clicks, chooses and types on
// its widgets with Qt's own input events (QTest) and then waits, with Qt's
// event loop running, until the window layer has handled the input.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QApplication>
#include <QImage>
#include <QString>

#include "display/qt/device_screen.h"

namespace tavrel::testing {

using namespace std::chrono_literals;

// One QApplication for the test's life.
class QtTestApplication {
public:
    QtTestApplication();
    ~QtTestApplication();
    QtTestApplication(const QtTestApplication&) = delete;
    QtTestApplication& operator=(const QtTestApplication&) = delete;

private:
    int argc_ = 1;
    char name_[12] = "tavrel-test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

// The device's screen as the current display while it lives.
class QtScreenInPlace {
public:
    QtScreenInPlace(int width, int height, int scale,
                    platform::qt::HostTrayUse hostTray = platform::qt::HostTrayUse::Absent);
    ~QtScreenInPlace();
    QtScreenInPlace(const QtScreenInPlace&) = delete;
    QtScreenInPlace& operator=(const QtScreenInPlace&) = delete;

    platform::qt::DeviceScreen& screen() { return *screen_; }

private:
    std::shared_ptr<platform::qt::QtDisplay> display_;
    std::shared_ptr<platform::Display> previous_;
    std::unique_ptr<platform::qt::DeviceScreen> screen_;
};

// A part of the screen as a person sees it: what lies over it (the focus
// cue) included.
QImage PictureOf(QWidget& screen, const QWidget& part);
// How many pixels two pictures of one part differ in.
int DifferingPixels(const QImage& before, const QImage& after);

class QtPerson {
public:
    explicit QtPerson(platform::qt::DeviceScreen& screen) : screen_(screen) {}
    platform::qt::DeviceScreen& Screen() { return screen_; }

    // The widget that shows a device window or control, once the screen shows it.
    QWidget* Find(HWND window);
    template <typename Widget>
    Widget* FindAs(HWND window)
    {
        return qobject_cast<Widget*>(Find(window));
    }

    // A left click in the middle of the control's widget.
    void Click(HWND control);
    // Opens the combo box's drop-down and clicks the entry, or clicks the list box's entry.
    void ChooseEntry(HWND control, int index);
    // Key presses on the control's widget.
    void Type(HWND control, const QString& text);
    void PressKey(HWND control, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // A key press as the keyboard makes it: to the widget with Qt's focus,
    // else to the screen; then waits until `window` has handled it.
    void PressKeyWhereTheFocusIs(HWND window, Qt::Key key);
    // The caption bar's OK button and close box.
    void PressCaptionOk(HWND window);
    void PressCloseBox(HWND window);
    // The task bar's button for a device tray icon.
    void TapTrayIcon(HWND owner, UINT id);

    // Waits, with Qt's event loop running, until `condition` holds.
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s);
    // Waits until the window's thread has handled what was queued for it and
    // the screen shows the outcome.
    void Settle(HWND window);

private:
    platform::qt::DeviceScreen& screen_;
};

}  // namespace tavrel::testing
