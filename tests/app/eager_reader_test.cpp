// A program that waits for its port opens the port's link the moment it
// appears (OpenCPN retries every fraction of a second, gpsd opens on demand).
// A link that appears is a port that relays: opened at once, it keeps its
// reader until Tavrel ends, and never hangs up on it while Tavrel starts.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "platform/host/unique_fd.h"
#include "relay/relay_run.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
using platform::host::UniqueFd;

const std::vector<int> kNineOutputs = {0, 2, 3, 4, 5, 6, 7, 8, 9};

// Opens every port link as soon as the port folder shows it, and keeps what it
// opened; a reader that sees a hang-up is counted and closed.
class EagerReaders {
public:
    explicit EagerReaders(const std::filesystem::path& folder)
        : folder_(folder), watch_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        std::filesystem::create_directories(folder);
        // A link is made in place or renamed into place.
        EXPECT_GE(::inotify_add_watch(watch_.get(), folder.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    }

    // Watches until `done` holds or the time is up; true when `done` held.
    template <typename Done>
    bool WatchUntil(Done done, std::chrono::seconds timeout = 60s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            WatchOnce(50);
        }
        return true;
    }

    // One look at the folder and at the readers, waiting at most `milliseconds`.
    void WatchOnce(int milliseconds)
    {
        std::vector<pollfd> waits{{watch_.get(), POLLIN, 0}};
        for (const auto& [name, reader] : readers_) {
            waits.push_back({reader.get(), 0, 0});   // a hang-up is reported without asking
        }
        if (::poll(waits.data(), waits.size(), milliseconds) <= 0) {
            return;
        }
        std::vector<std::string> hungUp;
        auto wait = waits.begin() + 1;
        for (const auto& [name, reader] : readers_) {
            if ((wait++->revents & (POLLHUP | POLLERR)) != 0) {
                hungUp.push_back(name);
            }
        }
        for (const std::string& name : hungUp) {
            ++hangUps_;
            readers_.erase(name);
        }
        OpenNewLinks();
    }

    std::size_t open() const { return readers_.size(); }
    int hangUps() const { return hangUps_; }
    int vanished() const { return vanished_; }
    std::vector<int> Readers() const
    {
        std::vector<int> fds;
        for (const auto& [name, reader] : readers_) {
            fds.push_back(reader.get());
        }
        return fds;
    }

private:
    void OpenNewLinks()
    {
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(watch_.get(), buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string name = event->len > 0 ? event->name : "";
            if (!std::regex_match(name, std::regex("COM[0-9]"))) {
                continue;   // a link on its way into place
            }
            UniqueFd reader(::open((folder_ / name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
            if (!reader.valid()) {
                ++vanished_;   // gone before it could be opened, or leading nowhere
                continue;
            }
            readers_[name] = std::move(reader);
        }
    }

    std::filesystem::path folder_;
    UniqueFd watch_;
    std::map<std::string, UniqueFd> readers_;
    int hangUps_ = 0;
    int vanished_ = 0;
};

using EagerReaderTest = DeviceProcessTest;

TEST_F(EagerReaderTest, ALinkThatAppearsDuringAStartWithNineOutputsNeverHangsUp)
{
    Install();
    PrepareLastRun(1, std::nullopt, kNineOutputs);
    PlaceStartupShortcut();
    EagerReaders eager(ports());

    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(eager.WatchUntil([&] { return eager.open() == kNineOutputs.size(); })) << program.Errors();
    ASSERT_TRUE(WaitUntilRelaying(gps(), eager.Readers())) << program.Errors();
    eager.WatchOnce(0);
    EXPECT_EQ(eager.hangUps(), 0);
    EXPECT_EQ(eager.vanished(), 0);
    EXPECT_EQ(eager.open(), kNineOutputs.size());

    // The readers do see a hang-up once the ports go.
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    EXPECT_TRUE(eager.WatchUntil([&] { return eager.open() == 0; }));
    EXPECT_EQ(eager.hangUps(), static_cast<int>(kNineOutputs.size()));
}

}  // namespace
