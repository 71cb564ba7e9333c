#include "display/qt/qt_display.h"

namespace platform::qt {

QtDisplay::QtDisplay(int width, int height) : width_(width), height_(height) {}

void QtDisplay::WindowChanged(HWND)
{
    changes_->Raise();
}

void QtDisplay::WindowDestroyed(HWND)
{
    changes_->Raise();
}

void QtDisplay::TrayChanged()
{
    changes_->Raise();
}

void QtDisplay::IdentityChanged()
{
    changes_->Raise();
}

}  // namespace platform::qt
