// A thread that tells when the host's serial devices may have changed, so
// that the built-in ports can follow them while the device runs. It watches,
// with inotify, the host's dev folder and its serial/by-id folder (which udev
// makes with the first USB serial device and removes with the last: the watch
// follows it coming and going). udev makes several nodes and links for one
// device in a burst, so the watch waits for a quiet spell after the last
// event and then calls back once.
//
// It sleeps in poll() with no time-out while nothing happens: an idle
// device is woken by nothing. Only while events come does it wait on a
// deadline.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/host/unique_fd.h"
#include "platform/host/wake_signal.h"

namespace platform::serial {

class HostSerialWatch {
public:
    using Changed = std::function<void()>;

    struct Settling {
        // Quiet after the last event before the call back.
        std::chrono::milliseconds quiet{200};
        // A burst that never falls quiet is called back this long after its
        // first event, and then again once it does.
        std::chrono::milliseconds longest{2000};
    };

    // Starts watching devRoot and calling `changed` on the watch's own
    // thread (named "serial-watch"). Null, with the reason in `problem`,
    // when devRoot cannot be watched.
    static std::unique_ptr<HostSerialWatch> Start(const std::filesystem::path& devRoot, Changed changed,
                                                  Settling settling, std::string& problem);
    // Wakes the thread and waits for it: a call back under way finishes,
    // none that is still settling is made.
    ~HostSerialWatch();
    HostSerialWatch(const HostSerialWatch&) = delete;
    HostSerialWatch& operator=(const HostSerialWatch&) = delete;

private:
    HostSerialWatch(std::filesystem::path devRoot, Changed changed, Settling settling, host::UniqueFd inotify,
                    host::WakeSignal wake);
    void Run();

    const std::filesystem::path devRoot_;
    const Changed changed_;
    const Settling settling_;
    const host::UniqueFd inotify_;
    const host::WakeSignal wake_;   // the destructor asks the thread to end
    std::thread thread_;
};

}  // namespace platform::serial
