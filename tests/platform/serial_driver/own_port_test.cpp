// The built-in serial driver never opens one of the device's own virtual
// ports, whether a driver key names the pseudo-terminal that the port got
// (its earlier owner went away and the number was given anew) or its link.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;

class OwnPortTest : public ::testing::Test {
protected:
    OwnPortTest()
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        device_.WriteVirtualPortKey(2);
        output_ = ActivateDeviceEx(u"Drivers\\quorvel2", nullptr, 0, nullptr);
        // Open for data, as the relay opens its outputs: now its link exists.
        outputFile_ = CreateFileW(u"COM2:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~OwnPortTest() override
    {
        CloseHandle(outputFile_);
        DeactivateDevice(output_);
    }

    // Makes `hostDevice` the built-in port COM1, as a person would write its
    // key, and opens COM1; the last error after a failed open.
    DWORD OpenInputNamed(const std::string& hostDevice) const
    {
        HANDLE input = device_.ActivateBuiltInPort(u"Gps", 1, hostDevice);
        EXPECT_NE(input, nullptr);
        SetLastError(ERROR_SUCCESS);
        HANDLE port = CreateFileW(u"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const DWORD error = port == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (port != INVALID_HANDLE_VALUE) {
            CloseHandle(port);
        }
        DeactivateDevice(input);
        return error;
    }

    mutable TestDevice device_;
    HANDLE output_ = nullptr;
    HANDLE outputFile_ = INVALID_HANDLE_VALUE;
};

TEST_F(OwnPortTest, ATtyThatIsOneOfTheDevicesPortsIsRefusedAndAnyOtherOpens)
{
    ASSERT_NE(output_, nullptr);
    ASSERT_NE(outputFile_, INVALID_HANDLE_VALUE);
    const std::filesystem::path link = device_.PortLink(2);
    const std::string pseudoTerminal = std::filesystem::read_symlink(link).string();
    EXPECT_EQ(OpenInputNamed(pseudoTerminal), ERROR_ACCESS_DENIED) << pseudoTerminal;
    EXPECT_EQ(OpenInputNamed(link.string()), ERROR_ACCESS_DENIED);

    PtyPair receiver;
    EXPECT_EQ(OpenInputNamed(receiver.slavePath()), ERROR_SUCCESS);
    // The refused opens left the output as it was: a consumer still gets its bytes.
    const int reader = OpenRaw(link.string());
    ASSERT_GE(reader, 0);
    const std::vector<unsigned char> bytes = {'$', '\r', '\n', 0x7F};
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(outputFile_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(ReadFor(reader, bytes.size()), bytes);
    ::close(reader);
}

}  // namespace
