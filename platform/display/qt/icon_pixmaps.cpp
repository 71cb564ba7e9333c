#include "display/qt/icon_pixmaps.h"

#include <QApplication>
#include <QImage>
#include <QStyle>

#include "platform/message_box.h"
#include "platform/resources.h"

namespace platform::qt {
namespace {

QImage ImageOf(const IconImage& icon)
{
    QImage image(icon.width, icon.height, QImage::Format_ARGB32);
    for (int y = 0; y < icon.height; ++y) {
        for (int x = 0; x < icon.width; ++x) {
            const auto at = static_cast<std::size_t>(y * icon.width + x);
            const QRgb rgb = icon.rgb[at] & 0x00FFFFFFu;
            image.setPixel(x, y, icon.transparent[at] ? qRgba(0, 0, 0, 0) : (rgb | 0xFF000000u));
        }
    }
    return image;
}

}  // namespace

QPixmap PixmapOfIcon(HICON icon, int scale)
{
    const IconImage* image = IconImageOf(icon);
    if (image == nullptr || image->width <= 0 || image->height <= 0) {
        return QPixmap();
    }
    // Pixel for pixel: a 16-pixel icon stays sharp at any whole scale.
    return QPixmap::fromImage(ImageOf(*image).scaled(image->width * scale, image->height * scale,
                                                     Qt::IgnoreAspectRatio, Qt::FastTransformation));
}

QPixmap MessageBoxIcon(UINT messageBoxType, int side)
{
    QStyle::StandardPixmap picture = QStyle::SP_MessageBoxInformation;
    switch (messageBoxType & MB_ICONMASK) {
    case MB_ICONHAND: picture = QStyle::SP_MessageBoxCritical; break;
    case MB_ICONQUESTION: picture = QStyle::SP_MessageBoxQuestion; break;
    case MB_ICONEXCLAMATION: picture = QStyle::SP_MessageBoxWarning; break;
    case MB_ICONASTERISK: picture = QStyle::SP_MessageBoxInformation; break;
    default: return QPixmap();
    }
    return QApplication::style()->standardIcon(picture).pixmap(side, side);
}

}  // namespace platform::qt
