// The comm calls as they reach the driver (serial I/O controls), and the
// open/close/read entries.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/kernel.h"
#include "quorvel_harness.h"
#include "support/refused_dcbs.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

class VirtualPortControls : public ::testing::Test {
protected:
    TempFolder folder_;
    QuorvelModule module_;
    PortUnderTest port_{module_, 5, folder_.path()};

    DCB GetDcb()
    {
        DCB dcb{};
        DWORD actual = 0;
        EXPECT_EQ(port_.Control(IOCTL_SERIAL_GET_DCB, nullptr, 0, &dcb, sizeof dcb, &actual), TRUE);
        EXPECT_EQ(actual, sizeof(DCB));
        return dcb;
    }

    // The control fails with `error` as the last error.
    void ExpectFailure(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD error)
    {
        SetLastError(0);
        EXPECT_EQ(port_.Control(code, in, inSize, out, outSize), FALSE) << "control " << std::hex << code;
        EXPECT_EQ(GetLastError(), error) << "control " << std::hex << code;
    }
};

TEST_F(VirtualPortControls, DcbStartsAt115200EightNoneOneAndKeepsWhatIsSet)
{
    const DCB initial = GetDcb();
    EXPECT_EQ(initial.DCBlength, sizeof(DCB));
    EXPECT_EQ(initial.BaudRate, CBR_115200);
    EXPECT_EQ(initial.ByteSize, 8);
    EXPECT_EQ(initial.Parity, NOPARITY);
    EXPECT_EQ(initial.StopBits, ONESTOPBIT);
    EXPECT_EQ(initial.fBinary, 1u);
    EXPECT_EQ(initial.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(initial.XonChar, 0x11);
    EXPECT_EQ(initial.XoffChar, 0x13);

    DCB changed = initial;
    changed.BaudRate = CBR_4800;
    changed.ByteSize = 7;
    changed.Parity = EVENPARITY;
    changed.fParity = 1;
    changed.StopBits = TWOSTOPBITS;
    changed.EvtChar = '\n';
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_DCB, &changed, sizeof changed, nullptr, 0), TRUE);
    const DCB now = GetDcb();
    EXPECT_EQ(std::memcmp(&now, &changed, sizeof(DCB)), 0);
}

// The same list as the built-in driver's test: a virtual port takes no
// setting that a real port would refuse.
TEST_F(VirtualPortControls, ADcbThatABuiltInPortRefusesIsRefusedAndChangesNothing)
{
    const DCB initial = GetDcb();
    for (const DcbBreakage& breakage : refusedDcbChanges) {
        DCB broken = initial;
        breakage.apply(broken);
        SetLastError(0);
        EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_DCB, &broken, sizeof broken, nullptr, 0), FALSE) << breakage.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << breakage.what;
    }
    const DCB now = GetDcb();
    EXPECT_EQ(std::memcmp(&now, &initial, sizeof(DCB)), 0);
}

// The caller's buffers are plain bytes: a value may start at any address.
TEST_F(VirtualPortControls, ValuesAreCopiedFromAndToBuffersOfAnyAlignment)
{
    DCB wanted = GetDcb();
    wanted.BaudRate = CBR_9600;
    alignas(8) BYTE in[sizeof(DCB) + 1] = {};
    std::memcpy(in + 1, &wanted, sizeof wanted);
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_DCB, in + 1, sizeof(DCB), nullptr, 0), TRUE);

    alignas(8) BYTE out[sizeof(DCB) + 1] = {};
    DWORD actual = 0;
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_GET_DCB, nullptr, 0, out + 1, sizeof(DCB), &actual), TRUE);
    EXPECT_EQ(actual, sizeof(DCB));
    EXPECT_EQ(std::memcmp(out + 1, &wanted, sizeof wanted), 0);
}

TEST_F(VirtualPortControls, TimeoutsMaskQueueSizesAndPurgeSucceed)
{
    const COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 10, 500};
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, nullptr, 0), TRUE);
    COMMTIMEOUTS readBack{};
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &readBack, sizeof readBack), TRUE);
    EXPECT_EQ(std::memcmp(&readBack, &timeouts, sizeof timeouts), 0);

    const DWORD mask = EV_RXCHAR | EV_RXFLAG;
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0), TRUE);
    DWORD maskBack = 0;
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, &maskBack, sizeof maskBack), TRUE);
    EXPECT_EQ(maskBack, mask);
    const DWORD unknownEvent = 0x10000;
    ExpectFailure(IOCTL_SERIAL_SET_WAIT_MASK, &unknownEvent, sizeof unknownEvent, nullptr, 0, ERROR_INVALID_PARAMETER);

    const DWORD queues[2] = {4096, 4096};
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_SET_QUEUE_SIZE, queues, sizeof queues, nullptr, 0), TRUE);
    const DWORD purge = PURGE_TXCLEAR | PURGE_RXCLEAR;
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_PURGE, &purge, sizeof purge, nullptr, 0), TRUE);
    const DWORD unknownPurge = 0x10;
    ExpectFailure(IOCTL_SERIAL_PURGE, &unknownPurge, sizeof unknownPurge, nullptr, 0, ERROR_INVALID_PARAMETER);
}

TEST_F(VirtualPortControls, WrongBufferSizesAreRefused)
{
    BYTE buffer[64] = {};
    const DWORD small = sizeof(DCB) - 1;
    ExpectFailure(IOCTL_SERIAL_GET_DCB, nullptr, 0, buffer, small, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_GET_DCB, nullptr, 0, nullptr, sizeof(DCB), ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_SET_DCB, buffer, small, nullptr, 0, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_SET_DCB, nullptr, sizeof(DCB), nullptr, 0, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, buffer, sizeof(COMMTIMEOUTS) - 1, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_SET_TIMEOUTS, buffer, sizeof(COMMTIMEOUTS) - 1, nullptr, 0, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_GET_WAIT_MASK, nullptr, 0, buffer, 2, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_SET_WAIT_MASK, buffer, 2, nullptr, 0, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_SET_QUEUE_SIZE, buffer, sizeof(DWORD), nullptr, 0, ERROR_INVALID_PARAMETER);
    ExpectFailure(IOCTL_SERIAL_PURGE, buffer, 0, nullptr, 0, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(std::count(std::begin(buffer), std::end(buffer), 0), 64) << "a refused control writes nothing";
}

TEST_F(VirtualPortControls, WaitOnMaskAndUnknownControlsAreNotSupportedAndReadFindsNothingWithoutAnInputQueue)
{
    DWORD events = 0;
    ExpectFailure(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof events, ERROR_NOT_SUPPORTED);
    ExpectFailure(SerialControl(99), nullptr, 0, nullptr, 0, ERROR_NOT_SUPPORTED);

    unsigned char buffer[16];
    EXPECT_EQ(module_.entries().Read(port_.open(), buffer, sizeof buffer), 0u);
}

TEST_F(VirtualPortControls, PurgeOfTheTransmitSideDropsWhatWaitsForTheConsumer)
{
    Consumer reader(OpenRaw(port_.linkPath()));
    ASSERT_TRUE(reader.valid());
    EXPECT_TRUE(port_.WriteInChunks(CountingStream(3000)));
    const DWORD purge = PURGE_TXCLEAR;
    EXPECT_EQ(port_.Control(IOCTL_SERIAL_PURGE, &purge, sizeof purge, nullptr, 0), TRUE);

    const auto fresh = AllByteValues();
    EXPECT_EQ(port_.Write(fresh), 256u);
    EXPECT_EQ(ReadFor(reader.fd(), 256), fresh);
}

TEST_F(VirtualPortControls, AQueryOpenSitsBesideTheDataOpen)
{
    const STREAM_DRIVER_ENTRIES& entries = module_.entries();
    FakeDeviceHost host(6, folder_.path());
    const DRIVER_CONTEXT device = entries.Init(host.registryPath(), host.host());
    ASSERT_NE(device, DRIVER_CONTEXT{0});
    const DRIVER_CONTEXT data = entries.Open(device, GENERIC_READ | GENERIC_WRITE, 0);
    const DRIVER_CONTEXT query = entries.Open(device, 0, 0);
    ASSERT_NE(data, DRIVER_CONTEXT{0});
    ASSERT_NE(query, DRIVER_CONTEXT{0});
    EXPECT_NE(data, query);

    DCB dcb{};
    EXPECT_EQ(entries.IOControl(query, IOCTL_SERIAL_GET_DCB, nullptr, 0, reinterpret_cast<BYTE*>(&dcb), sizeof dcb,
                                nullptr),
              TRUE);
    EXPECT_EQ(dcb.BaudRate, CBR_115200);
    EXPECT_EQ(entries.PreClose(query), TRUE);
    EXPECT_EQ(entries.Close(query), TRUE);

    Consumer reader(OpenRaw(folder_.path() / "COM6"));
    ASSERT_TRUE(reader.valid());
    const auto all = AllByteValues();
    EXPECT_EQ(entries.Write(data, all.data(), 256), 256u) << "the data open still works";
    EXPECT_EQ(ReadFor(reader.fd(), 256), all);
    EXPECT_EQ(entries.Close(data), TRUE);
    EXPECT_EQ(entries.Deinit(device), TRUE);
}

TEST_F(VirtualPortControls, WriteChecksItsBuffer)
{
    SetLastError(0);
    EXPECT_EQ(module_.entries().Write(port_.open(), nullptr, 10), DRIVER_TRANSFER_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(module_.entries().Write(port_.open(), nullptr, 0), 0u);
}

}  // namespace
}  // namespace tavrel::testing
