// The device's screen as a window on the host's desktop: the caption bar, the
// screen with every shown top-level window of the device at its place and in
// its z-order (the foreground window and what it owns on top), and the task
// bar strip with the tray icons, which are also real icons in the host's
// notification area where it has one. The window is titled after the
// foreground window, after the program's name when the program gave one
// (platform::SetHostIdentity), which also names the desktop entry that the
// window belongs to. It reads the windows anew on the Qt thread whenever the
// display's change signal rises. Where the host has a tray, the window hides
// while the device shows no window and comes back when one is shown; where it
// has none, the task bar strip stays on screen so the program can be brought
// back.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <memory>

#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "display/qt/caption_bar.h"
#include "display/qt/qt_display.h"
#include "display/qt/screen_metrics.h"
#include "display/qt/tray_views.h"
#include "display/qt/window_view.h"

namespace platform::qt {

enum class HostTrayUse { Detect, Present, Absent };

class DeviceScreen final : public QWidget {
public:
    DeviceScreen(std::shared_ptr<QtDisplay> display, ScreenMetrics metrics, HostTrayUse hostTray = HostTrayUse::Detect);
    ~DeviceScreen() override;

    // Reads every window and the tray anew.
    void Refresh();
    // Runs after every refresh.
    void SetAfterRefresh(std::function<void()> afterRefresh) { afterRefresh_ = std::move(afterRefresh); }

    const ScreenMetrics& Metrics() const { return metrics_; }
    // The widget that shows a device window or control; null when none does.
    QWidget* WidgetOf(HWND window);
    CaptionBar& Caption() { return caption_; }
    TaskBar& Tasks() { return taskBar_; }

protected:
    // The host's close box closes the device's foreground window, as the
    // caption bar's close box does (or the program's window when none is shown).
    void closeEvent(QCloseEvent* event) override;
    // Tab and Shift+Tab move the focus among the foreground dialog's tab stops.
    bool focusNextPrevChild(bool next) override;
    // Enter and Esc while no control has the focus go to the foreground window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Applies the program's name and desktop entry before any window is shown.
    void SyncIdentity();
    // Syncs every top-level window; the ones shown.
    std::set<HWND> SyncWindows(const std::vector<HWND>& oldestFirst);
    void Stack(const std::vector<HWND>& oldestFirst, HWND foreground);
    void SyncForeground(HWND foreground, const std::set<HWND>& shown);
    void SyncTray();
    void SyncWindowShown(bool deviceShowsWindow);
    void ShowWindowNow();

    std::shared_ptr<QtDisplay> display_;
    ScreenMetrics metrics_;
    bool hostTray_;
    CaptionBar caption_;
    QWidget screen_;
    TaskBar taskBar_;
    HostTray hostIcons_;
    std::map<HWND, std::unique_ptr<WindowView>> windows_;
    QSocketNotifier changes_;
    QTimer showSoon_;
    bool wanted_ = false;
    bool hasTrayIcons_ = false;
    HICON windowIcon_ = nullptr;
    HWND foreground_ = nullptr;
    std::set<HWND> shown_;   // the device's windows shown at the last refresh
    std::function<void()> afterRefresh_;
    HostIdentity identity_;
};

// The desktop window's title: the program's name, followed by the caption of
// the device window in front when that says more; the caption alone while
// the program has not named itself.
QString HostWindowTitle(const std::u16string& name, const std::u16string& caption);

}  // namespace platform::qt
