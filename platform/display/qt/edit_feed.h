// The edit field of a combo box is edited on the spot, as a person types,
// and each edit goes to the window layer: appended characters as typed
// characters, characters taken off the end as Backspace, anything else as
// the whole new text. The window layer's text comes back a step behind; the
// texts on its way are expected and leave the field alone, any other text
// (one the program set) replaces what the field shows.
#pragma once

#include <deque>

#include <QString>

#include "platform/types.h"

namespace platform::qt {

class EditFeed {
public:
    explicit EditFeed(HWND control) : control_(control) {}

    // The person changed the field's text to `after`.
    void Edited(const QString& after);
    // Whether the field should now show the window layer's text.
    bool ShouldShow(const QString& text);

private:
    void Feed(const QString& start, const QString& typed, bool replace);

    HWND control_;
    QString shown_;
    std::deque<QString> expected_;
};

}  // namespace platform::qt
