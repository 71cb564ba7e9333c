#include "display/qt/focus_cue.h"

#include <QPainter>
#include <QPen>

namespace platform::qt {

FocusCue::FocusCue(QWidget& window) : QWidget(&window)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void FocusCue::Follow(const QRect& place, int scale)
{
    if (place.isEmpty()) {
        hide();
        return;
    }
    scale_ = scale;
    setGeometry(place);
    raise();
    show();
    update();
}

void FocusCue::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Dots and gaps one device pixel long: the pattern counts in pen widths.
    QPen pen(palette().color(QPalette::WindowText), scale_);
    pen.setDashPattern({1.0, 1.0});
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    const qreal half = scale_ / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
}

}  // namespace platform::qt
