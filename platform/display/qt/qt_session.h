// The qt display for a whole process: Qt owns the process's main thread and
// the program's WinMain runs on a thread of its own, so the program's
// user-interface thread is no different from a headless run's.
//
// The display is a module of its own (kModuleFile), loaded only when a
// process shows its device on the desktop, so that a headless process maps
// no Qt library and runs on a machine without Qt. The process sees the
// module's session through this interface alone, which names no Qt type.
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
    QtSession() = default;
    virtual ~QtSession() = default;
    QtSession(const QtSession&) = delete;
    QtSession& operator=(const QtSession&) = delete;

    // Shows the device's screen, runs `program` on a thread of its own and
    // Qt's event loop here until the program has returned, and gives its
    // result. When Qt ends the process because the display went away (Qt
    // calls exit() when the X server ends), the program is first ended as if
    // it had been closed, then `finish` runs (what the caller would do after
    // Run), and the process exits with the program's result.
    virtual int Run(const std::function<int()>& program, const std::function<void()>& finish) = 0;
};

// The module's file name, and the name of its one entry (OpenSessionEntry).
inline constexpr const char* kModuleFile = "display-qt.so";
inline constexpr const char* kOpenSessionEntryName = "platform_open_qt_session";

// Opens Qt on this thread, which must be the process's main thread, with the
// platforms that QT_QPA_PLATFORM names (X11, then Wayland, by default).
// Leaves `session` null, with the reason in `whyNot`, when none can be opened.
using OpenSessionEntry = void (*)(const SessionOptions& options, std::unique_ptr<QtSession>& session,
                                  std::string& whyNot);

}  // namespace platform::qt

extern "C" void platform_open_qt_session(const platform::qt::SessionOptions& options,
                                         std::unique_ptr<platform::qt::QtSession>& session, std::string& whyNot);
