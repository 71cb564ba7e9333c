// The watch of the host's serial devices over a made-up dev tree: one call
// back per burst of nodes and links, nothing while nothing changes (read
// from the kernel's view of its thread, not guessed from time), the by-id
// folder followed as udev makes and removes it, and an end that waits for
// nothing.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "drivers/serial/host_serial_watch.h"
#include "support/fake_host_tree.h"
#include "testkit/proc_stats.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::serial::HostSerialWatch;

constexpr auto kGenerous = 20s;
// Longer than any pause between the steps of one plug-in made by this test,
// however busy the machine, so that one plug-in is one burst.
constexpr HostSerialWatch::Settling kWholeBursts{3s, 60s};
constexpr HostSerialWatch::Settling kQuick{20ms, 1s};
constexpr auto kForever = std::chrono::hours(1);

const UsbReceiver kReceiver{"ttyACM0", "u-blox GNSS receiver", "usb-u-blox_AG_GNSS_receiver-if00"};

// A made-up host with a watch on its dev folder, counting the call backs.
class WatchedHost {
public:
    // Starts watching; true once the watch's thread sleeps, waiting for events.
    bool Watch(HostSerialWatch::Settling settling)
    {
        std::string problem;
        watch_ = HostSerialWatch::Start(host_.dev(), [this] { Told(); }, settling, problem);
        EXPECT_NE(watch_, nullptr) << problem;
        return watch_ != nullptr && WaitForSleep(PollSleep::Untimed);
    }

    FakeHostTree& host() { return host_; }

    int calls()
    {
        std::lock_guard guard(lock_);
        return calls_;
    }

    // True once the watch has called back `count` times in all.
    bool WaitForCalls(int count)
    {
        std::unique_lock guard(lock_);
        return told_.wait_for(guard, kGenerous, [&] { return calls_ >= count; });
    }

    // The watch's thread, by its name; nothing when there is none.
    static std::optional<ThreadSample> Thread() { return ThreadNamed(::getpid(), "serial-watch"); }

    // True once the watch's thread (named as soon as it runs) sleeps in
    // poll() as `sleep` says.
    bool WaitForSleep(PollSleep sleep) const
    {
        const auto deadline = std::chrono::steady_clock::now() + kGenerous;
        for (auto thread = Thread(); !thread || PollSleepOf(::getpid(), thread->thread) != sleep; thread = Thread()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // Ends the watch on another thread; true when that took less than the
    // generous time-out (the watch would otherwise still be settling).
    bool EndsAtOnce()
    {
        auto ended = std::async(std::launch::async, [watch = std::move(watch_)]() mutable { watch.reset(); });
        return ended.wait_for(kGenerous) == std::future_status::ready;
    }

private:
    void Told()
    {
        std::lock_guard guard(lock_);
        ++calls_;
        told_.notify_all();
    }

    FakeHostTree host_;
    std::mutex lock_;
    std::condition_variable told_;
    int calls_ = 0;
    std::unique_ptr<HostSerialWatch> watch_;   // last: it ends before what it calls back into
};

TEST(HostSerialWatch, APlugInOrAPullOutIsToldOnceWhenItHasSettled)
{
    WatchedHost watched;
    ASSERT_TRUE(watched.Watch(kWholeBursts));

    // The node, dev/serial, dev/serial/by-id and the link: four events, one burst.
    watched.host().PlugIn(kReceiver);
    ASSERT_TRUE(watched.WaitForCalls(1));
    ASSERT_TRUE(watched.WaitForSleep(PollSleep::Untimed));
    EXPECT_EQ(watched.calls(), 1);

    watched.host().PullOut(kReceiver);
    ASSERT_TRUE(watched.WaitForCalls(2));
    ASSERT_TRUE(watched.WaitForSleep(PollSleep::Untimed));
    EXPECT_EQ(watched.calls(), 2);
}

TEST(HostSerialWatch, NothingWakesAnIdleWatchNotEvenChangesItDoesNotFollow)
{
    WatchedHost watched;
    fs::create_directories(watched.host().dev() / "pts");
    ASSERT_TRUE(watched.Watch(kQuick));
    const auto before = watched.Thread();
    ASSERT_TRUE(before.has_value());

    // sysfs is read, not watched; nor are dev's other folders (dev/pts, say).
    watched.host().AddUsbDevice("pci0000:00/usb2/2-1", "Not plugged in yet");
    WriteWholeFile(watched.host().dev() / "pts" / "5", "");
    std::this_thread::sleep_for(1s);

    const auto after = watched.Thread();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->switches, before->switches);
    EXPECT_EQ(PollSleepOf(::getpid(), after->thread), PollSleep::Untimed);
    EXPECT_EQ(watched.calls(), 0);
}

TEST(HostSerialWatch, TheByIdFolderIsFollowedAsUdevMakesAndRemovesIt)
{
    WatchedHost watched;
    ASSERT_TRUE(watched.Watch(kQuick));
    // Each step waits until the watch sleeps again, so that the change after
    // it, made inside by-id alone, can only be seen through a watch on by-id.
    const auto step = [&](const std::function<void()>& change) {
        const int before = watched.calls();
        change();
        EXPECT_TRUE(watched.WaitForCalls(before + 1));
        EXPECT_TRUE(watched.WaitForSleep(PollSleep::Untimed));
    };
    step([&] { fs::create_directories(watched.host().byId()); });
    step([&] { watched.host().AddByIdLink("usb-First-if00", "../../ttyUSB0"); });

    step([&] {
        fs::remove(watched.host().byId() / "usb-First-if00");
        fs::remove(watched.host().byId());
        fs::remove(watched.host().dev() / "serial");
    });
    step([&] { fs::create_directories(watched.host().byId()); });
    step([&] { watched.host().AddByIdLink("usb-Second-if00", "../../ttyUSB1"); });
}

TEST(HostSerialWatch, ABurstThatNeverFallsQuietIsToldAtItsLongest)
{
    WatchedHost watched;
    ASSERT_TRUE(watched.Watch({kForever, 50ms}));
    WriteWholeFile(watched.host().dev() / "ttyUSB0", "");
    EXPECT_TRUE(watched.WaitForCalls(1));
}

TEST(HostSerialWatch, EndsAtOnceWhileIdleAndWhileSettling)
{
    {
        WatchedHost idle;
        ASSERT_TRUE(idle.Watch(kQuick));
        EXPECT_TRUE(idle.EndsAtOnce());
    }
    WatchedHost settling;
    ASSERT_TRUE(settling.Watch({kForever, kForever}));
    WriteWholeFile(settling.host().dev() / "ttyUSB0", "");
    ASSERT_TRUE(settling.WaitForSleep(PollSleep::Timed));
    EXPECT_TRUE(settling.EndsAtOnce());
    EXPECT_EQ(settling.calls(), 0);   // a burst cut short is not told
}

TEST(HostSerialWatch, ADevFolderThatCannotBeWatchedIsReported)
{
    FakeHostTree host;
    std::string problem;
    const auto watch = HostSerialWatch::Start(host.root() / "nowhere", [] {}, kQuick, problem);
    EXPECT_EQ(watch, nullptr);
    EXPECT_NE(problem.find((host.root() / "nowhere").string()), std::string::npos) << problem;
}

}  // namespace
}  // namespace tavrel::testing
