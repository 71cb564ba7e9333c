#include "display/qt/screen_metrics.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QScreen>

namespace platform::qt {
namespace {

// The window layer counts a dialog unit as a quarter of a six-pixel average
// character, measured over the letters as the dialog manager measures them.
constexpr double kAverageCharacterWidth = 6.0;
constexpr int kHostLinesPerStep = 540;
constexpr int kSmallestFontPixels = 6;

double AverageCharacterWidth(const QFont& font)
{
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    return QFontMetricsF(font).horizontalAdvance(letters) / static_cast<double>(letters.size());
}

}  // namespace

QRect ScreenMetrics::Host(const RECT& place) const
{
    return QRect(Host(place.left), Host(place.top), Host(place.right - place.left), Host(place.bottom - place.top));
}

QSize ScreenMetrics::WindowSize() const
{
    return QSize(Host(width), Host(kBarHeight + height + kBarHeight));
}

int ComfortableScale(QSize deviceWindow, QSize hostScreen, QSize hostAvailable)
{
    int scale = std::max(1, hostScreen.height() / kHostLinesPerStep);
    while (scale > 1 && (deviceWindow.width() * scale > hostAvailable.width() ||
                         deviceWindow.height() * scale > hostAvailable.height())) {
        --scale;
    }
    return scale;
}

QFont DialogFont(int scale)
{
    QFont font = QApplication::font();
    int pixels = kSmallestFontPixels * scale;
    for (int larger = pixels + 1; larger <= 4 * kSmallestFontPixels * scale; ++larger) {
        font.setPixelSize(larger);
        if (AverageCharacterWidth(font) > kAverageCharacterWidth * scale) {
            break;
        }
        pixels = larger;
    }
    font.setPixelSize(pixels);
    return font;
}

ScreenMetrics MakeScreenMetrics(int width, int height, int scale)
{
    ScreenMetrics metrics;
    metrics.width = width;
    metrics.height = height;
    if (scale <= 0) {
        const QScreen* host = QGuiApplication::primaryScreen();
        const QSize unscaled = metrics.WindowSize();
        scale = host != nullptr ? ComfortableScale(unscaled, host->geometry().size(), host->availableGeometry().size())
                                : 1;
    }
    metrics.scale = scale;
    metrics.font = DialogFont(scale);
    return metrics;
}

}  // namespace platform::qt
