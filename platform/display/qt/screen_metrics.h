// How the device's screen maps onto the host's: every device pixel is an
// integer number of host pixels, the dialog font is chosen so that its
// characters are as wide as the window layer's dialog units assume (six
// device pixels on average), and a bar above and below the screen holds the
// caption of the foreground window and the task bar with the tray icons.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/types.h"

namespace platform::qt {

struct ScreenMetrics {
    int width = 240;   // device pixels
    int height = 320;
    int scale = 1;     // host pixels per device pixel
    QFont font;        // for dialogs and their controls, at host size

    static constexpr int kBarHeight = 26;   // device pixels, each bar

    int Host(int devicePixels) const { return devicePixels * scale; }
    QRect Host(const RECT& place) const;
    // The host window: the caption bar, the screen and the task bar.
    QSize WindowSize() const;
};

// The metrics for a device screen of width x height; a scale of 0 is chosen
// by the primary host screen (ComfortableScale).
ScreenMetrics MakeScreenMetrics(int width, int height, int scale);

// About one step for every 540 host pixels of the host screen's height (2 on
// a 1080-line screen), less while the window would not fit the available area.
int ComfortableScale(QSize deviceWindow, QSize hostScreen, QSize hostAvailable);

// The host's interface font at the largest pixel size whose average character
// is no wider than six device pixels at this scale.
QFont DialogFont(int scale);

}  // namespace platform::qt
