#include "support/file_replacements.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tavrel::testing {

FileReplacements::FileReplacements(const std::filesystem::path& file)
    : name_(file.filename().string()), watch_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
{
    // The renames away are watched too, only so that the notices alternate:
    // the host merges a notice into an identical one still unread before it.
    const std::uint32_t renames = IN_MOVED_FROM | IN_MOVED_TO;
    if (watch_.valid() && ::inotify_add_watch(watch_.get(), file.parent_path().c_str(), renames) < 0) {
        watch_ = platform::host::UniqueFd();
    }
}

int FileReplacements::Count()
{
    alignas(inotify_event) char buffer[4096];
    while (watch_.valid()) {
        const ssize_t got = ::read(watch_.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EAGAIN) {
            return count_;
        }
        if (got <= 0) {
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // A lost notice (a full queue) makes the count unknown.
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                return -1;
            }
            const bool replaced = (event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name_ == event->name;
            count_ += replaced ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return -1;
}

}  // namespace tavrel::testing
