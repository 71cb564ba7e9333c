// A device that follows a made-up host's serial devices while it runs: a
// device plugged in gets its key and is activated, and this process's
// top-level windows are told once; one pulled out is parked but stays active;
// when it comes back it has its number and its device again.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "devices/device_manager.h"
#include "platform/registry.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "support/fake_host_tree.h"
#include "support/test_device.h"
#include "testkit/proc_stats.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::RegistryKey;
using platform::devices::FindActiveDevice;

constexpr auto kGenerous = 20s;
const UsbReceiver kReceiver{"ttyACM0", "u-blox GNSS receiver", "usb-u-blox_AG_GNSS_receiver-if00"};

// Waits until `condition` holds, looking again every millisecond.
template <typename Condition>
bool Eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::optional<DWORD> Index(const std::u16string& key)
{
    return RegistryKey(HKEY_LOCAL_MACHINE, key, RegistryKey::Open::Existing).Number(u"Index");
}

std::optional<std::u16string> Text(const std::u16string& key, const WCHAR* name)
{
    return RegistryKey(HKEY_LOCAL_MACHINE, key, RegistryKey::Open::Existing).Text(name);
}

// WM_DEVICECHANGE messages waiting for `window`, taken from this thread's queue.
int DeviceChangesFor(HWND window)
{
    int count = 0;
    MSG message{};
    while (PeekMessageW(&message, window, WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE)) {
        EXPECT_EQ(message.wParam, DBT_DEVNODES_CHANGED);
        ++count;
    }
    return count;
}

class FollowedHostTest : public ::testing::Test {
protected:
    FollowedHostTest()
    {
        WriteWholeFile(host_.AddTty("ttyS0", "pnp0/00:00") / "type", "4\n");
        device_.FollowHost(host_.dev(), host_.sys());
    }

    // The receiver's tty in sysfs, which nobody watches, then its node: a
    // change of one event, so exactly one call back follows however busy
    // the machine is.
    void PlugInReceiverNode()
    {
        const fs::path usb = host_.AddUsbDevice("pci0000:00/usb1/1-3", kReceiver.product);
        host_.AddTty(kReceiver.kernelName, usb / kReceiver.kernelName);
    }
    void PullOutReceiverNode()
    {
        fs::remove(host_.classTty() / kReceiver.kernelName);
        fs::remove_all(host_.sys() / "devices" / "pci0000:00" / "usb1" / "1-3");
        fs::remove(host_.dev() / kReceiver.kernelName);
    }

    // True once the watch has finished with what it was told: it sleeps
    // again, with no time-out, after a call back that did `done`.
    template <typename Condition>
    static bool WaitForTheWatch(Condition done)
    {
        return Eventually(done) && Eventually([] {
                   const auto watch = ThreadNamed(::getpid(), "serial-watch");
                   return watch && PollSleepOf(::getpid(), watch->thread) == PollSleep::Untimed;
               });
    }

    FakeHostTree host_;
    TestDevice device_;   // after the host: its watch ends before the host's folders go
};

TEST_F(FollowedHostTest, APluggedInDeviceIsActivatedAndTheWindowsAreToldOnceEachTime)
{
    // The receiver's by-id link is there from an earlier plug-in, dangling.
    host_.AddByIdLink(kReceiver.byId, fs::path("..") / ".." / kReceiver.kernelName);
    const HWND shown = CreateWindowExW(0, u"STATIC", u"Shown", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50, nullptr,
                                       nullptr, nullptr, nullptr);
    const HWND hidden =
        CreateWindowExW(0, u"STATIC", u"Hidden", WS_POPUP, 0, 0, 100, 50, nullptr, nullptr, nullptr, nullptr);
    const HWND child = CreateWindowExW(0, u"STATIC", u"Child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, shown, nullptr,
                                       nullptr, nullptr);
    ASSERT_TRUE(shown && hidden && child);
    ASSERT_EQ(Index(u"Drivers\\BuiltIn\\ttyS0"), 1u);
    const std::u16string key = u"Drivers\\BuiltIn\\ttyACM0";

    PlugInReceiverNode();
    ASSERT_TRUE(WaitForTheWatch([&] { return Index(key).has_value(); }));
    EXPECT_EQ(Index(key), 2u);
    EXPECT_EQ(Text(key, u"FriendlyName"), u"u-blox GNSS receiver");
    EXPECT_EQ(Text(key, u"HostDevice"), platform::ToUtf16((host_.byId() / kReceiver.byId).string()));
    const auto receiver = FindActiveDevice(u"COM2:");
    ASSERT_NE(receiver, nullptr);
    EXPECT_EQ(DeviceChangesFor(shown), 1);
    EXPECT_EQ(DeviceChangesFor(hidden), 1);
    EXPECT_EQ(DeviceChangesFor(child), 0);

    PullOutReceiverNode();
    ASSERT_TRUE(WaitForTheWatch([&] { return Index(u"Drivers\\Detached\\ttyACM0").has_value(); }));
    EXPECT_FALSE(Index(key).has_value());
    EXPECT_EQ(FindActiveDevice(u"COM2:"), receiver);   // parked, still active
    EXPECT_EQ(DeviceChangesFor(shown), 1);
    EXPECT_EQ(DeviceChangesFor(hidden), 1);

    PlugInReceiverNode();
    ASSERT_TRUE(WaitForTheWatch([&] { return Index(key).has_value(); }));
    EXPECT_EQ(Index(key), 2u);
    EXPECT_EQ(FindActiveDevice(u"COM2:"), receiver);
    EXPECT_EQ(DeviceChangesFor(shown), 1);
    DestroyWindow(shown);
    DestroyWindow(hidden);
}

}  // namespace
}  // namespace tavrel::testing
