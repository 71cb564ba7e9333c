// The qt display as the window layer sees it: the device screen's size, a
// person in front of it (until the program is ended for good), and a change
// signal that every thread raises without blocking. The Qt side
// (device_screen.h) watches the signal on the Qt thread and reads the windows
// anew. Nothing of Qt lives here, so the last holder may drop it on any
// thread.
#pragma once

#include <memory>

#include "display/qt/change_signal.h"
#include "platform/display.h"

namespace platform::qt {

class QtDisplay final : public Display {
public:
    QtDisplay(int width, int height);

    int ScreenWidth() const override { return width_; }
    int ScreenHeight() const override { return height_; }
    void WindowChanged(HWND window) override;
    void WindowDestroyed(HWND window) override;
    void TrayChanged() override;
    void IdentityChanged() override;

    const std::shared_ptr<ChangeSignal>& Changes() const { return changes_; }

private:
    bool PersonPresent() const override { return true; }

    const int width_;
    const int height_;
    std::shared_ptr<ChangeSignal> changes_ = std::make_shared<ChangeSignal>();
};

}  // namespace platform::qt
