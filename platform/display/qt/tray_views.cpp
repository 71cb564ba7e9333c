#include "display/qt/tray_views.h"

#include <algorithm>

#include "display/qt/control_kinds.h"
#include "display/qt/icon_pixmaps.h"

namespace platform::qt {
namespace {

constexpr int kIconSide = 16;   // device pixels, the tray's icon size
constexpr int kSpacing = 4;

// Keeps one entry per device icon, in the device's order: makes the missing
// ones with `make`, drops the ones that went.
template <typename Entry, typename Make>
void Match(std::vector<Entry>& entries, const std::vector<input::TrayIcon>& icons, Make make)
{
    std::vector<Entry> kept;
    for (const input::TrayIcon& icon : icons) {
        const auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) {
            return entry.owner == icon.owner && entry.id == icon.id;
        });
        if (found != entries.end()) {
            kept.push_back(std::move(*found));
        } else {
            kept.push_back(Entry{icon.owner, icon.id, make(icon), false, nullptr, QString()});
        }
    }
    entries = std::move(kept);
}

// Whether the entry shows another icon or tip than `icon` has; remembers them.
template <typename Entry>
bool Changed(Entry& entry, const input::TrayIcon& icon)
{
    const QString tip = TipOf(icon);
    if (entry.drawn && entry.icon == icon.icon && entry.tip == tip) {
        return false;
    }
    entry.drawn = true;
    entry.icon = icon.icon;
    entry.tip = tip;
    return true;
}

}  // namespace

QString TipOf(const input::TrayIcon& icon)
{
    if (!icon.tip.empty()) {
        return ToQString(icon.tip);
    }
    const auto owner = input::Inspect(icon.owner);
    return owner ? ToQString(owner->text) : QString();
}

TaskBar::TaskBar(QWidget& parent) : QWidget(&parent)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
}

void TaskBar::Sync(const std::vector<input::TrayIcon>& icons, const ScreenMetrics& metrics)
{
    Match(entries_, icons, [this](const input::TrayIcon& icon) {
        auto button = std::make_unique<QToolButton>(this);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        QObject::connect(button.get(), &QToolButton::clicked, this,
                         [owner = icon.owner, id = icon.id] { input::TapTrayIcon(owner, id); });
        button->show();
        return button;
    });
    const int height = metrics.Host(ScreenMetrics::kBarHeight);
    const int side = height - metrics.Host(kSpacing);
    int right = metrics.Host(metrics.width) - metrics.Host(kSpacing);
    for (std::size_t i = 0; i < icons.size(); ++i) {
        QToolButton& button = *entries_[i].view;
        if (Changed(entries_[i], icons[i])) {
            button.setIcon(QIcon(PixmapOfIcon(icons[i].icon, metrics.scale)));
            button.setIconSize(QSize(metrics.Host(kIconSide), metrics.Host(kIconSide)));
            button.setToolTip(entries_[i].tip);
        }
        right -= side;
        button.setGeometry(right, metrics.Host(kSpacing) / 2, side, side);
    }
}

QToolButton* TaskBar::Button(HWND owner, UINT id)
{
    for (TrayEntry<QToolButton>& entry : entries_) {
        if (entry.owner == owner && entry.id == id) {
            return entry.view.get();
        }
    }
    return nullptr;
}

bool HostTray::Available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void HostTray::Sync(const std::vector<input::TrayIcon>& icons)
{
    Match(entries_, icons, [](const input::TrayIcon& icon) {
        auto hostIcon = std::make_unique<QSystemTrayIcon>();
        QObject::connect(hostIcon.get(), &QSystemTrayIcon::activated,
                         [owner = icon.owner, id = icon.id](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger) {
                                 input::TapTrayIcon(owner, id);
                             }
                         });
        return hostIcon;
    });
    // A host tray redraws an icon at every change: only real changes go to it.
    for (std::size_t i = 0; i < icons.size(); ++i) {
        if (Changed(entries_[i], icons[i])) {
            QSystemTrayIcon& hostIcon = *entries_[i].view;
            hostIcon.setIcon(QIcon(PixmapOfIcon(icons[i].icon, 1)));
            hostIcon.setToolTip(entries_[i].tip);
            hostIcon.show();
        }
    }
}

}  // namespace platform::qt
