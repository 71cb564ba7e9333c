// How the device's screen maps onto the host's: every device pixel is an
// integer number of host pixels, the dialog font is chosen so that its
// characters are as wide as the window layer's dialog units assume (six
// device pixels on average), and a bar above and below the screen holds the
// caption of the foreground window and the task bar with the tray icons.
#pragma once

#include <string>

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

// Whether a window of `deviceWindow` device pixels at `scale` fits the host
// screen's available area, with room left for the host's title bar and
// borders around it (which the host tells only once the window is shown).
bool FitsAt(QSize deviceWindow, int scale, QSize available);
// The largest whole scale up to `wanted` at which it fits; 1 when none does.
int FittingScale(QSize deviceWindow, int wanted, QSize available);

// The scale on the primary host screen for a device screen of width x
// height: `wanted` (0: ComfortableScale), brought down until the window fits.
// When it was brought down, or does not fit even at 1, `note` says so in a
// line for the person; otherwise it is left empty.
int HostScale(int width, int height, int wanted, std::string& note);

// The host's interface font at the largest pixel size whose average character
// is no wider than six device pixels at this scale.
QFont DialogFont(int scale);

}  // namespace platform::qt
