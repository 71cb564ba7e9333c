// The qt display for a whole process: Qt owns the process's main thread and
// the program's WinMain runs on a thread of its own, so the program's
// user-interface thread is no different from a headless run's.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform::qt {

struct SessionOptions {
    int width = 240;    // the device's screen, device pixels
    int height = 320;
    int scale = 0;      // host pixels per device pixel; 0: by the host screen's size
};

class QtSession {
public:
    // Opens Qt on this thread, which must be the process's main thread, with
    // the platforms that QT_QPA_PLATFORM names (X11, then Wayland, by
    // default). Null, with the reason in `whyNot`, when none can be opened or
    // this build has no Qt.
    static std::unique_ptr<QtSession> Open(const SessionOptions& options, std::string& whyNot);
    struct State;
    explicit QtSession(std::unique_ptr<State> state);   // Open makes one
    ~QtSession();
    QtSession(const QtSession&) = delete;
    QtSession& operator=(const QtSession&) = delete;

    // Shows the device's screen, runs `program` on a thread of its own and
    // Qt's event loop here until the program has returned, and gives its
    // result. When Qt ends the process because the display went away (Qt
    // calls exit() when the X server ends), the program is first ended as if
    // it had been closed, then `finish` runs (what the caller would do after
    // Run), and the process exits with the program's result.
    int Run(const std::function<int()>& program, const std::function<void()>& finish);

private:
    std::unique_ptr<State> state_;
};

}  // namespace platform::qt
