// The parts of the qt display that decide without a window: the change
// signal that wakes the Qt thread, the scale for a host screen, and the
// dialog font.
#include <poll.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QFontMetricsF>

#include "display/qt/change_signal.h"
#include "display/qt/screen_metrics.h"
#include "qt_person.h"

namespace {

using platform::qt::ChangeSignal;
using platform::qt::ComfortableScale;

bool Readable(const ChangeSignal& signal)
{
    pollfd watched{signal.Descriptor(), POLLIN, 0};
    return ::poll(&watched, 1, 0) == 1;
}

TEST(ChangeSignal, ABurstOfRaisesWakesOnceAndARaiseAfterTakingWakesAgain)
{
    ChangeSignal signal;
    EXPECT_FALSE(Readable(signal));
    std::vector<std::thread> raisers;
    for (int i = 0; i < 4; ++i) {
        raisers.emplace_back([&signal] {
            for (int n = 0; n < 1000; ++n) {
                signal.Raise();
            }
        });
    }
    for (std::thread& raiser : raisers) {
        raiser.join();
    }
    EXPECT_TRUE(Readable(signal));
    signal.Take();
    EXPECT_FALSE(Readable(signal));
    signal.Raise();
    EXPECT_TRUE(Readable(signal));
}

TEST(ScreenScale, TwoOnA1080LineScreenAndOnlyAsLargeAsFits)
{
    const QSize portrait(240, 26 + 320 + 26);
    EXPECT_EQ(ComfortableScale(portrait, QSize(1920, 1080), QSize(1920, 1040)), 2);
    EXPECT_EQ(ComfortableScale(portrait, QSize(1366, 768), QSize(1366, 740)), 1);
    EXPECT_EQ(ComfortableScale(portrait, QSize(2560, 1440), QSize(2560, 1400)), 2);
    EXPECT_EQ(ComfortableScale(portrait, QSize(3840, 2160), QSize(3840, 2100)), 4);
    // A tall device on a wide, low host: smaller until it fits, never below one.
    EXPECT_EQ(ComfortableScale(QSize(480, 692), QSize(3840, 2160), QSize(3840, 1200)), 1);
    EXPECT_EQ(ComfortableScale(QSize(480, 692), QSize(800, 600), QSize(800, 560)), 1);
}

TEST(DialogFont, ItsAverageCharacterIsAsWideAsTheDialogUnitsAssume)
{
    tavrel::testing::QtTestApplication application;
    const auto average = [](const QFont& font) {
        const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
        return QFontMetricsF(font).horizontalAdvance(letters) / 52.0;
    };
    for (int scale : {1, 2, 3}) {
        SCOPED_TRACE(scale);
        QFont font = platform::qt::DialogFont(scale);
        EXPECT_LE(average(font), 6.0 * scale);
        font.setPixelSize(font.pixelSize() + 1);
        EXPECT_GT(average(font), 6.0 * scale);
    }
}

}  // namespace
