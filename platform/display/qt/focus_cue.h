// The keyboard focus drawn as the device draws it: a dotted rectangle just
// inside the control that has the focus, where the host's style would put
// its focus frame, one device pixel wide at every scale, in the colour of
// window text. It lies over the control and takes no input.
#pragma once

#include <QRect>
#include <QWidget>

namespace platform::qt {

class FocusCue final : public QWidget {
public:
    explicit FocusCue(QWidget& window);

    // Over `place` (in the window's coordinates), above the controls; hidden for an empty place.
    void Follow(const QRect& place, int scale);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int scale_ = 1;
};

}  // namespace platform::qt
