// The parts of the qt display that decide without a window: the change
// signal that wakes the Qt thread, the scale for a host screen (brought
// down until the window fits it), the dialog font, and the window's title.
#include <poll.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>

#include "display/qt/change_signal.h"
#include "display/qt/device_screen.h"
#include "display/qt/screen_metrics.h"
#include "qt_person.h"

namespace {

using platform::qt::ChangeSignal;
using platform::qt::ComfortableScale;
using platform::qt::FittingScale;

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

TEST(ScreenScale, AScaleAskedForIsBroughtDownToTheLargestThatLeavesRoomForTheHostsFrame)
{
    const QSize portrait(240, 26 + 320 + 26);
    const QSize landscape(320, 26 + 240 + 26);
    EXPECT_EQ(FittingScale(portrait, 8, QSize(800, 600)), 1);
    EXPECT_EQ(FittingScale(landscape, 8, QSize(1024, 768)), 2);
    // 584 lines at 2 would fill an 800x600 screen and leave no room for a title bar.
    EXPECT_EQ(FittingScale(landscape, 2, QSize(800, 600)), 1);
    EXPECT_EQ(FittingScale(portrait, 3, QSize(3840, 2100)), 3);   // fits: as asked
    EXPECT_EQ(FittingScale(QSize(4096, 4148), 2, QSize(800, 600)), 1);   // never below one
}

TEST(ScreenScale, TheHostScreenBringsAScaleDownWithOneLineSayingSo)
{
    tavrel::testing::QtTestApplication application;
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    const QSize window(240, 26 + 320 + 26);
    std::string note;
    const int scale = platform::qt::HostScale(240, 320, 8, note);
    ASSERT_LT(scale, 8) << "the test's screen is " << available.width() << "x" << available.height();
    EXPECT_LE(window.height() * scale, available.height());
    EXPECT_GT(window.height() * (scale + 1), available.height() - 40);
    EXPECT_NE(note.find("at scale 8"), std::string::npos) << note;
    EXPECT_NE(note.find("drawn at scale " + std::to_string(scale)), std::string::npos) << note;
    EXPECT_EQ(note.find('\n'), std::string::npos);

    note.clear();
    EXPECT_EQ(platform::qt::HostScale(240, 320, 1, note), 1);
    EXPECT_EQ(note, "");
    EXPECT_EQ(platform::qt::HostScale(4096, 4096, 3, note), 1);
    EXPECT_NE(note.find("does not fit"), std::string::npos) << note;
}

TEST(WindowTitle, TheProgramsNameLeadsAndTheCaptionInFrontFollowsWhenItSaysMore)
{
    using platform::qt::HostWindowTitle;
    EXPECT_EQ(HostWindowTitle(u"Tavrel", u"Tavrel V1.20"), QStringLiteral("Tavrel \u2014 Tavrel V1.20"));
    EXPECT_EQ(HostWindowTitle(u"Tavrel", u"Tavrel"), QStringLiteral("Tavrel"));
    EXPECT_EQ(HostWindowTitle(u"Tavrel", u""), QStringLiteral("Tavrel"));
    EXPECT_EQ(HostWindowTitle(u"", u"Sample dialog"), QStringLiteral("Sample dialog"));
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
