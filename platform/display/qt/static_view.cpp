// Statics: a text (word-wrapped from the top unless its style says
// otherwise, shown as plain text, never as markup), or an icon at its own
// size, as the device's static control sizes itself to its icon.
#include <QLabel>

#include "display/qt/control_kinds.h"
#include "display/qt/icon_pixmaps.h"
#include "platform/user.h"

namespace platform::qt {
namespace {

constexpr DWORD kStaticTypeMask = 0x1F;
constexpr DWORD kRight = 0x2;                 // SS_RIGHT
constexpr DWORD kLeftWithoutWrapping = 0xC;   // SS_LEFTNOWORDWRAP

bool IsIcon(const input::WindowState& state)
{
    return (state.style & kStaticTypeMask) == SS_ICON;
}

Qt::Alignment AlignmentOf(DWORD type)
{
    switch (type) {
    case SS_CENTER: return Qt::AlignHCenter | Qt::AlignTop;
    case kRight: return Qt::AlignRight | Qt::AlignTop;
    default: return Qt::AlignLeft | Qt::AlignTop;
    }
}

class StaticView final : public QLabel, public ControlView {
public:
    StaticView(HWND handle, QWidget& window, bool icon) : QLabel(&window), ControlView(handle), icon_(icon)
    {
        setTextFormat(Qt::PlainText);
        Attach();
    }

    QWidget& Widget() override { return *this; }
    bool Shows(const input::WindowState& state) const override { return IsIcon(state) == icon_; }

protected:
    void SyncContent(const input::WindowState& state, const ScreenMetrics& metrics) override
    {
        if (icon_) {
            setPixmap(PixmapOfIcon(state.icon, metrics.scale));
            return;
        }
        const DWORD type = state.style & kStaticTypeMask;
        setWordWrap(type != kLeftWithoutWrapping);
        setAlignment(AlignmentOf(type));
        setText(ToQString(state.text));
    }

    QRect DrawnPlace(const input::WindowState& state, const ScreenMetrics& metrics) const override
    {
        QRect place = metrics.Host(state.place);
        if (icon_) {
            if (const QPixmap picture = PixmapOfIcon(state.icon, metrics.scale); !picture.isNull()) {
                place.setSize(picture.size());
            }
        }
        return place;
    }

private:
    bool icon_;
};

}  // namespace

std::unique_ptr<ControlView> MakeStaticView(const input::WindowState& state, QWidget& window)
{
    return std::make_unique<StaticView>(state.handle, window, IsIcon(state));
}

}  // namespace platform::qt
