#include "display/qt/caption_bar.h"

#include "display/qt/control_kinds.h"

namespace platform::qt {
namespace {

constexpr int kMargin = 3;        // device pixels
constexpr int kOkWidth = 32;

}  // namespace

CaptionBar::CaptionBar(QWidget& parent) : QWidget(&parent), title_(this), ok_(this), close_(this)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Highlight);
    title_.setForegroundRole(QPalette::HighlightedText);
    title_.setTextFormat(Qt::PlainText);
    ok_.setText(QStringLiteral("OK"));
    ok_.setAutoDefault(false);
    ok_.setFocusPolicy(Qt::NoFocus);
    ok_.setToolTip(QStringLiteral("OK"));
    close_.setText(QStringLiteral("\u00D7"));
    close_.setToolTip(QStringLiteral("Close"));
    close_.setFocusPolicy(Qt::NoFocus);
    connect(&ok_, &QPushButton::clicked, this, [this] { input::PressCaptionOk(window_); });
    connect(&close_, &QToolButton::clicked, this, [this] { input::Close(window_); });
}

void CaptionBar::Sync(const std::optional<input::WindowState>& foreground, const ScreenMetrics& metrics)
{
    window_ = foreground ? foreground->handle : nullptr;
    title_.setText(foreground ? ToQString(foreground->text) : QString());
    ok_.setVisible(foreground && foreground->captionOk);
    ok_.setEnabled(foreground && foreground->enabled);
    close_.setVisible(foreground.has_value());
    Place(metrics);
}

void CaptionBar::Place(const ScreenMetrics& metrics)
{
    QFont bold = metrics.font;
    bold.setBold(true);
    for (QWidget* part : {static_cast<QWidget*>(&title_), static_cast<QWidget*>(&ok_), static_cast<QWidget*>(&close_)}) {
        part->setFont(bold);
    }
    const int margin = metrics.Host(kMargin);
    const int height = metrics.Host(ScreenMetrics::kBarHeight);
    const int side = height - 2 * margin;
    setGeometry(0, 0, metrics.Host(metrics.width), height);
    close_.setGeometry(width() - margin - side, margin, side, side);
    ok_.setGeometry(close_.x() - margin - metrics.Host(kOkWidth), margin, metrics.Host(kOkWidth), side);
    const int titleEnd = ok_.isHidden() ? close_.x() : ok_.x();
    title_.setGeometry(2 * margin, 0, titleEnd - 3 * margin, height);
}

}  // namespace platform::qt
