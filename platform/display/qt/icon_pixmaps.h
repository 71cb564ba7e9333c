// Pictures for Qt of the device's icons: one that LoadIconW loaded, drawn
// pixel for pixel at the screen's scale, and the icon that a message box's
// style names, from the host's style.
#pragma once

#include <QPixmap>

#include "platform/types.h"

namespace platform::qt {

// A null pixmap for a handle that LoadIconW did not return.
QPixmap PixmapOfIcon(HICON icon, int scale);
// A null pixmap when the style names no icon.
QPixmap MessageBoxIcon(UINT messageBoxType, int side);

}  // namespace platform::qt
