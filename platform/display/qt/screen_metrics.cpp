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
// Room around the window for the host's title bar and borders, host pixels.
const QSize kHostFrame(8, 40);

double AverageCharacterWidth(const QFont& font)
{
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    return QFontMetricsF(font).horizontalAdvance(letters) / static_cast<double>(letters.size());
}

std::string SizeText(QSize pixels)
{
    return std::to_string(pixels.width()) + "x" + std::to_string(pixels.height());
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
    return FittingScale(deviceWindow, hostScreen.height() / kHostLinesPerStep, hostAvailable);
}

bool FitsAt(QSize deviceWindow, int scale, QSize available)
{
    const QSize room = available - kHostFrame;
    return deviceWindow.width() * scale <= room.width() && deviceWindow.height() * scale <= room.height();
}

int FittingScale(QSize deviceWindow, int wanted, QSize available)
{
    int scale = std::max(1, wanted);
    while (scale > 1 && !FitsAt(deviceWindow, scale, available)) {
        --scale;
    }
    return scale;
}

int HostScale(int width, int height, int wanted, std::string& note)
{
    const QScreen* host = QGuiApplication::primaryScreen();
    if (host == nullptr) {
        return std::max(1, wanted);
    }
    ScreenMetrics unscaled;
    unscaled.width = width;
    unscaled.height = height;
    const QSize window = unscaled.WindowSize();
    const QSize available = host->availableGeometry().size();
    const int scale = wanted > 0 ? FittingScale(window, wanted, available)
                                 : ComfortableScale(window, host->geometry().size(), available);
    if (!FitsAt(window, scale, available)) {
        note = "the device's screen (" + SizeText(window) + " pixels with its bars) does not fit the host screen's free " +
               SizeText(available) + " even at scale 1";
    } else if (wanted > 0 && scale < wanted) {
        note = "the device's screen at scale " + std::to_string(wanted) + " (" + SizeText(window * wanted) +
               " pixels with its bars) would not fit the host screen's free " + SizeText(available) +
               "; it is drawn at scale " + std::to_string(scale);
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
        std::string unused;
        scale = HostScale(width, height, 0, unused);
    }
    metrics.scale = scale;
    metrics.font = DialogFont(scale);
    return metrics;
}

}  // namespace platform::qt
