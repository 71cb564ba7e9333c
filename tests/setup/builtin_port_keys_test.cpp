// The built-in ports' keys as a person edits them to free numbers for the
// input and the outputs: the ports in the way get numbers above 9 and above
// every number in use, the kept port and the others stay, and after a boot
// the freed numbers open nothing while the others still open their ports.
#include <optional>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/kernel.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"
#include "setup/builtin_port_keys.h"

namespace {

using namespace tavrel::testing;
using tavrel::setup::BuiltInPortKeys;
using tavrel::setup::MoveBuiltInPortsOff;

std::optional<DWORD> NumberOf(const std::u16string& keyName)
{
    for (const auto& port : BuiltInPortKeys()) {
        if (port.keyName == keyName) {
            return port.index;
        }
    }
    return std::nullopt;
}

bool Opens(const char16_t* name)
{
    HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(port);
    return true;
}

TEST(BuiltInPortKeys, PortsOnWantedNumbersMoveAboveEveryNumberInUseAndFreeTheirNumbers)
{
    PtyPair input, first, between, second, high;
    TestDevice device;
    device.MapBuiltInPort(u"Input", 1, input.slavePath());
    device.MapBuiltInPort(u"First", 2, first.slavePath());
    device.MapBuiltInPort(u"Between", 3, between.slavePath());
    device.MapBuiltInPort(u"Second", 5, second.slavePath());
    device.MapBuiltInPort(u"High", 12, high.slavePath());
    const auto keys = BuiltInPortKeys();
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[1].keyName, u"First");
    EXPECT_EQ(keys[1].hostDevice, first.slavePath());

    EXPECT_TRUE(MoveBuiltInPortsOff({1, 2, 5}, input.slavePath()));

    EXPECT_EQ(NumberOf(u"Input"), 1u);   // the kept port
    EXPECT_EQ(NumberOf(u"First"), 13u);
    EXPECT_EQ(NumberOf(u"Between"), 3u);
    EXPECT_EQ(NumberOf(u"Second"), 14u);
    EXPECT_EQ(NumberOf(u"High"), 12u);
    // A device numbers its ports 0 to 9: a key above 9 makes no port.
    device.Reboot();
    EXPECT_FALSE(Opens(u"COM2:"));
    EXPECT_FALSE(Opens(u"COM5:"));
    EXPECT_TRUE(Opens(u"COM1:"));
    EXPECT_TRUE(Opens(u"COM3:"));
}

}  // namespace
