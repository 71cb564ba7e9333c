#include "display/qt/device_screen.h"

#include <algorithm>
#include <set>

#include <QApplication>
#include <QCloseEvent>

#include "display/qt/control_kinds.h"
#include "display/qt/icon_pixmaps.h"
#include "platform/user.h"

namespace platform::qt {
namespace {

// A window that appears and goes again at once (a program that starts hidden
// in the tray) should not flash on the host's desktop.
constexpr int kShowAfterMilliseconds = 150;

// The window at the root of a window's chain of owners.
HWND RootOwner(HWND window)
{
    for (int depth = 0; depth < 64; ++depth) {
        const auto state = input::Inspect(window);
        if (!state || state->owner == nullptr) {
            break;
        }
        window = state->owner;
    }
    return window;
}

// The tab stops of a dialog that can take the focus, in tab order.
std::vector<input::WindowState> TabStops(HWND dialog)
{
    std::vector<input::WindowState> stops;
    for (HWND child : input::Children(dialog)) {
        const auto state = input::Inspect(child);
        if (state && (state->style & WS_TABSTOP) != 0 && state->enabled && state->visible) {
            stops.push_back(*state);
        }
    }
    return stops;
}

}  // namespace

DeviceScreen::DeviceScreen(std::shared_ptr<QtDisplay> display, ScreenMetrics metrics, HostTrayUse hostTray)
    : display_(std::move(display)),
      metrics_(std::move(metrics)),
      hostTray_(hostTray == HostTrayUse::Detect ? HostTray::Available() : hostTray == HostTrayUse::Present),
      caption_(*this),
      screen_(this),
      taskBar_(*this),
      changes_(display_->Changes()->Descriptor(), QSocketNotifier::Read, this)
{
    setFixedSize(metrics_.WindowSize());
    const int bar = metrics_.Host(ScreenMetrics::kBarHeight);
    screen_.setGeometry(0, bar, metrics_.Host(metrics_.width), metrics_.Host(metrics_.height));
    // The desktop under the windows: a role of its own, so that the windows
    // on it keep the palette's window colour.
    screen_.setAutoFillBackground(true);
    screen_.setBackgroundRole(QPalette::Dark);
    taskBar_.setGeometry(0, bar + screen_.height(), width(), bar);
    showSoon_.setSingleShot(true);
    showSoon_.setInterval(kShowAfterMilliseconds);
    connect(&showSoon_, &QTimer::timeout, this, [this] { ShowWindowNow(); });
    connect(&changes_, &QSocketNotifier::activated, this, [this] { Refresh(); });
    Refresh();
}

DeviceScreen::~DeviceScreen()
{
    changes_.setEnabled(false);
}

void DeviceScreen::Refresh()
{
    display_->Changes()->Take();
    SyncIdentity();
    std::vector<HWND> oldestFirst = input::TopLevelWindows();
    std::reverse(oldestFirst.begin(), oldestFirst.end());
    const std::set<HWND> shown = SyncWindows(oldestFirst);
    const HWND foreground = input::Foreground();
    Stack(oldestFirst, foreground);
    SyncForeground(foreground, shown);
    SyncTray();
    SyncWindowShown(!shown.empty());
    shown_ = shown;
    if (afterRefresh_) {
        afterRefresh_();
    }
}

std::set<HWND> DeviceScreen::SyncWindows(const std::vector<HWND>& oldestFirst)
{
    std::set<HWND> present;
    std::set<HWND> shown;
    for (HWND window : oldestFirst) {
        const auto state = input::Inspect(window);
        if (!state) {
            continue;
        }
        present.insert(window);
        auto& view = windows_[window];
        if (view == nullptr) {
            view = std::make_unique<WindowView>(window, screen_);
        }
        view->Sync(*state, metrics_);
        if (state->visible) {
            shown.insert(window);
        }
    }
    std::erase_if(windows_, [&](const auto& entry) { return present.count(entry.first) == 0; });
    return shown;
}

void DeviceScreen::Stack(const std::vector<HWND>& oldestFirst, HWND foreground)
{
    // Oldest at the bottom; a window above the window that owns it; the
    // foreground window, with what it owns, above everything else.
    std::vector<std::pair<HWND, HWND>> byRoot;   // root owner, window
    for (HWND window : oldestFirst) {
        byRoot.emplace_back(RootOwner(window), window);
    }
    const HWND top = foreground != nullptr ? RootOwner(foreground) : nullptr;
    std::stable_partition(byRoot.begin(), byRoot.end(), [top](const auto& entry) { return entry.first != top; });
    for (const auto& [root, window] : byRoot) {
        if (const auto found = windows_.find(window); found != windows_.end()) {
            found->second->Widget().raise();
        }
    }
}

void DeviceScreen::SyncIdentity()
{
    const HostIdentity identity = CurrentHostIdentity();
    if (identity == identity_) {
        return;
    }
    identity_ = identity;
    // Qt gives a window the application's name as its X11 class when it first
    // shows it, and the desktop file's name as its Wayland application id.
    if (!identity.name.empty()) {
        QCoreApplication::setApplicationName(ToQString(identity.name));
    }
    if (!identity.desktopEntry.empty()) {
        QGuiApplication::setDesktopFileName(QString::fromStdString(identity.desktopEntry));
    }
}

void DeviceScreen::SyncForeground(HWND foreground, const std::set<HWND>& shown)
{
    std::optional<input::WindowState> state = shown.count(foreground) != 0 ? input::Inspect(foreground) : std::nullopt;
    caption_.Sync(state, metrics_);
    if (state || !identity_.name.empty()) {
        setWindowTitle(HostWindowTitle(identity_.name, state ? state->text : std::u16string()));
    }
    if (state && shown_.count(foreground) == 0 && isVisible()) {
        // A window that the device has just shown (a message box, the program
        // brought back) brings the screen forward; one that is only left in
        // front when another goes does not take the host's focus.
        raise();
        activateWindow();
    }
    foreground_ = state ? foreground : nullptr;
}

void DeviceScreen::SyncTray()
{
    const std::vector<input::TrayIcon> icons = input::TrayIcons();
    taskBar_.Sync(icons, metrics_);
    if (hostTray_) {
        hostIcons_.Sync(icons);
    }
    hasTrayIcons_ = !icons.empty();
    if (hasTrayIcons_ && icons.front().icon != windowIcon_) {
        windowIcon_ = icons.front().icon;
        setWindowIcon(QIcon(PixmapOfIcon(windowIcon_, 1)));
    }
}

void DeviceScreen::SyncWindowShown(bool deviceShowsWindow)
{
    wanted_ = deviceShowsWindow || (hasTrayIcons_ && !hostTray_);
    if (!wanted_) {
        showSoon_.stop();
        hide();
    } else if (!isVisible() && !showSoon_.isActive()) {
        showSoon_.start();
    }
}

void DeviceScreen::ShowWindowNow()
{
    if (wanted_ && !isVisible()) {
        show();
        raise();
        activateWindow();
    }
}

QWidget* DeviceScreen::WidgetOf(HWND window)
{
    for (auto& [handle, view] : windows_) {
        if (QWidget* widget = view->WidgetOf(window)) {
            return widget;
        }
    }
    return nullptr;
}

void DeviceScreen::closeEvent(QCloseEvent* event)
{
    event->ignore();
    const HWND target = foreground_ != nullptr ? foreground_ : input::ProgramWindow();
    if (target != nullptr) {
        input::Close(target);
    }
}

void DeviceScreen::keyPressEvent(QKeyEvent* event)
{
    const auto key = DialogKeyOf(*event);
    if (key && foreground_ != nullptr) {
        input::PressKey(foreground_, *key);
        return;
    }
    QWidget::keyPressEvent(event);
}

bool DeviceScreen::focusNextPrevChild(bool next)
{
    const std::vector<input::WindowState> stops = foreground_ != nullptr ? TabStops(foreground_)
                                                                         : std::vector<input::WindowState>{};
    if (stops.empty()) {
        return QWidget::focusNextPrevChild(next);
    }
    const auto focused = std::find_if(stops.begin(), stops.end(), [](const auto& stop) { return stop.focused; });
    const auto count = static_cast<std::ptrdiff_t>(stops.size());
    std::ptrdiff_t index = focused == stops.end() ? (next ? -1 : 0) : focused - stops.begin();
    index = ((index + (next ? 1 : -1)) % count + count) % count;
    input::Focus(stops[static_cast<std::size_t>(index)].handle);
    return true;
}

QString HostWindowTitle(const std::u16string& name, const std::u16string& caption)
{
    if (name.empty() || caption.empty() || caption == name) {
        return ToQString(name.empty() ? caption : name);
    }
    return ToQString(name) + QStringLiteral(" \u2014 ") + ToQString(caption);
}

}  // namespace platform::qt
