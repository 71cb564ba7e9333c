#include "display/qt/edit_feed.h"

#include <algorithm>

#include "platform/user_input.h"

namespace platform::qt {

void EditFeed::Edited(const QString& after)
{
    const QString before = shown_;
    shown_ = after;
    if (after.startsWith(before)) {
        Feed(before, after.mid(before.size()), false);
    } else if (before.startsWith(after)) {
        QString backspaces;
        for (qsizetype end = before.size() - 1; end >= after.size(); --end) {
            expected_.push_back(before.left(end));
            backspaces += QLatin1Char('\b');
        }
        input::Type(control_, backspaces.toStdU16String(), false);
    } else {
        expected_.push_back(QString());
        Feed(QString(), after, true);
    }
}

bool EditFeed::ShouldShow(const QString& text)
{
    const auto found = std::find(expected_.begin(), expected_.end(), text);
    if (found != expected_.end()) {
        expected_.erase(expected_.begin(), found + 1);
        return false;
    }
    expected_.clear();
    shown_ = text;
    return true;
}

void EditFeed::Feed(const QString& start, const QString& typed, bool replace)
{
    for (qsizetype i = 1; i <= typed.size(); ++i) {
        expected_.push_back(start + typed.left(i));
    }
    input::Type(control_, typed.toStdU16String(), replace);
}

}  // namespace platform::qt
