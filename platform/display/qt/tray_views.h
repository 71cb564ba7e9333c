// The device's tray icons on the host: a button for each in the task bar
// strip under the device's screen, which is always there, and a real icon in
// the host's notification area when the host has one. A click on either is a
// tap on the device's icon (platform::input::TapTrayIcon).
#pragma once

#include <memory>
#include <vector>

#include <QSystemTrayIcon>
#include <QToolButton>

#include "display/qt/screen_metrics.h"
#include "platform/user_input.h"

namespace platform::qt {

// What shows one device icon, kept with the icon's owner and id.
template <typename View>
struct TrayEntry {
    HWND owner;
    UINT id;
    std::unique_ptr<View> view;
    bool drawn = false;     // the icon and tip below are on the view
    HICON icon = nullptr;
    QString tip;
};

class TaskBar final : public QWidget {
public:
    explicit TaskBar(QWidget& parent);

    void Sync(const std::vector<input::TrayIcon>& icons, const ScreenMetrics& metrics);
    // The strip's button for a device icon; null when there is none.
    QToolButton* Button(HWND owner, UINT id);

private:
    std::vector<TrayEntry<QToolButton>> entries_;
};

class HostTray {
public:
    void Sync(const std::vector<input::TrayIcon>& icons);
    static bool Available();

private:
    std::vector<TrayEntry<QSystemTrayIcon>> entries_;
};

// What a person reads on a device icon: its tip, or the caption of its owner.
QString TipOf(const input::TrayIcon& icon);

}  // namespace platform::qt
