#include "display/qt/display_loss.h"

#include "platform/user_input.h"

namespace platform::qt {
namespace {

constexpr std::chrono::milliseconds kCloseAgainAfter{1000};

void CloseEveryDialog()
{
    for (HWND window : input::TopLevelWindows()) {   // newest first
        const auto state = input::Inspect(window);
        if (state && state->className == u"#32770") {
            input::Close(window);
        }
    }
}

}  // namespace

bool CloseUntilEnded(const std::function<bool(std::chrono::milliseconds)>& waitEnded,
                     std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!waitEnded(std::chrono::milliseconds(0))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        CloseEveryDialog();
        waitEnded(kCloseAgainAfter);
    }
    return true;
}

}  // namespace platform::qt
