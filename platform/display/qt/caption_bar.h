// The bar above the device's screen, as the device's shell keeps it: the
// caption of the foreground window, its OK button when it has one in its
// caption (WS_EX_CAPTIONOKBTN, or the Done button of SHInitDialog), and a
// close box. Both buttons act on that window through platform/user_input.h.
#pragma once

#include <optional>

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "display/qt/screen_metrics.h"
#include "platform/user_input.h"

namespace platform::qt {

class CaptionBar final : public QWidget {
public:
    explicit CaptionBar(QWidget& parent);

    void Sync(const std::optional<input::WindowState>& foreground, const ScreenMetrics& metrics);
    QPushButton& OkButton() { return ok_; }
    QToolButton& CloseBox() { return close_; }
    QString Title() const { return title_.text(); }

private:
    void Place(const ScreenMetrics& metrics);

    HWND window_ = nullptr;
    QLabel title_;
    QPushButton ok_;
    QToolButton close_;
};

}  // namespace platform::qt
