#include <cstring>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/debug_capture.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "serial/serial_port.h"
#include "support/message_box_recorder.h"
#include "support/scripted_serial_device.h"

namespace {

using tavrel::testing::MessageBoxRecorder;
using tavrel::testing::ScriptedPort;
using tavrel::testing::ScriptedSerialDevices;
using tavrel::testing::SerialCall;

constexpr LONG kNotOpen = 6;
const std::u16string kNotOpened = u"Error: Dispositivo no abierto\n";
const std::u16string kDeviceNotOpened = u"Device is not opened\n";

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ScriptedSerialDevices::WriteDriverKey(u"Drivers\\BuiltIn\\Scripted3", 3);
        device_ = ActivateDeviceEx(u"Drivers\\BuiltIn\\Scripted3", nullptr, 0, nullptr);
        ASSERT_NE(device_, nullptr);
        COMMTIMEOUTS driverTimeouts{1, 2, 3, 7, 9};
        port().SetTimeouts(driverTimeouts);
    }
    void TearDown() override { platform::ShutdownDevice(); }

    ScriptedPort& port() { return devices_.Port(3); }
    void OpenPort() { ASSERT_EQ(serial_.Open(u"COM3:", 0, 0, false), 0); }

    ScriptedSerialDevices devices_;
    HANDLE device_ = nullptr;
    platform::DebugOutputCapture debug_;
    CSerial serial_;
};

TEST_F(SerialPortTest, NewObjectIsClosedAndCallsNothing)
{
    EXPECT_EQ(serial_.lastError, 0);
    EXPECT_EQ(serial_.portHandle, nullptr);
    EXPECT_EQ(serial_.lastEvent, 0u);
    EXPECT_EQ(serial_.eventMask, 0u);

    EXPECT_EQ(serial_.GetMask(), 0u);
    EXPECT_EQ(serial_.lastError, kNotOpen);
    EXPECT_EQ(debug_.Lines(), std::vector<std::u16string>{kNotOpened});

    EXPECT_EQ(serial_.Close(), 0);
    EXPECT_EQ(serial_.lastError, 0);
    {
        CSerial closed;
    }
    EXPECT_EQ(port().Calls().size(), 1u);   // the activation only
}

TEST_F(SerialPortTest, OpenSetsTheMaskAndNonBlockingReadsAndKeepsWriteTimeouts)
{
    OpenPort();
    EXPECT_NE(serial_.portHandle, nullptr);
    EXPECT_NE(serial_.portHandle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port().IsOpen());
    EXPECT_EQ(port().Count(SerialCall::SetupComm), 0u);
    EXPECT_EQ(serial_.GetMask(), 3u);
    EXPECT_EQ(port().Mask(), 3u);
    const COMMTIMEOUTS timeouts = port().Timeouts();
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 7u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 9u);
    EXPECT_TRUE(debug_.Lines().empty());
}

TEST_F(SerialPortTest, OpenOnAnOpenObjectReturns1247AndLeavesThePort)
{
    OpenPort();
    const HANDLE handle = serial_.portHandle;
    const std::size_t calls = port().Calls().size();
    EXPECT_EQ(serial_.Open(u"COM3:", 0, 0, false), 1247);
    EXPECT_EQ(serial_.lastError, 1247);
    EXPECT_EQ(serial_.portHandle, handle);
    EXPECT_EQ(port().Calls().size(), calls);
    EXPECT_TRUE(debug_.Lines().empty());
}

TEST_F(SerialPortTest, OpenOfAMissingOrRefusingDeviceLeavesTheObjectClosed)
{
    EXPECT_EQ(serial_.Open(u"COM7:", 0, 0, false), 2);
    EXPECT_EQ(serial_.portHandle, nullptr);
    EXPECT_EQ(serial_.Close(), 0);

    port().Fail(SerialCall::Open, 5);
    EXPECT_EQ(serial_.Open(u"COM3:", 0, 0, false), 5);
    EXPECT_EQ(serial_.lastError, 5);
    EXPECT_EQ(serial_.portHandle, nullptr);
    EXPECT_TRUE(debug_.Lines().empty());
}

TEST_F(SerialPortTest, QueueSizesReachSetupCommOnlyWhenOneIsSet)
{
    ASSERT_EQ(serial_.Open(u"COM3:", 512, 0, false), 0);
    const auto setups = port().Calls(SerialCall::SetupComm);
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(setups[0].argument, 512u);
    EXPECT_EQ(setups[0].argument2, 0u);
}

TEST_F(SerialPortTest, FailedSetupCommClosesThePortAndReturnsItsError)
{
    port().Fail(SerialCall::SetupComm, 31);
    EXPECT_EQ(serial_.Open(u"COM3:", 0, 64, false), 31);
    EXPECT_EQ(serial_.lastError, 31);
    EXPECT_EQ(serial_.portHandle, nullptr);
    EXPECT_FALSE(port().IsOpen());
    EXPECT_EQ(port().Count(SerialCall::Close), 1u);
}

TEST_F(SerialPortTest, OpenToleratesAFailedMaskButReportsFailedTimeouts)
{
    port().Fail(SerialCall::SetCommMask, 87);
    EXPECT_EQ(serial_.Open(u"COM3:", 0, 0, false), 0);
    EXPECT_EQ(serial_.eventMask, 0u);
    EXPECT_EQ(debug_.Count(u"Error: No se pudo ajustar la m\u00e1scara de eventos\n"), 1u);
    serial_.Close();

    port().Succeed(SerialCall::SetCommMask);
    port().Fail(SerialCall::SetCommTimeouts, 1167);
    EXPECT_EQ(serial_.Open(u"COM3:", 0, 0, false), 1167);
    EXPECT_NE(serial_.portHandle, nullptr);
    EXPECT_TRUE(port().IsOpen());
    EXPECT_EQ(serial_.eventMask, 3u);
}

TEST_F(SerialPortTest, SetupWritesTheLineFieldsAndKeepsTheRest)
{
    DCB reported = port().State();
    reported.XonLim = 1234;
    reported.fOutX = 1;
    port().SetState(reported);
    OpenPort();
    EXPECT_EQ(serial_.Setup(4800, 7, EVENPARITY, TWOSTOPBITS), 0);
    DCB dcb = port().State();
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.XonLim, 1234);
    EXPECT_EQ(dcb.fOutX, 1u);
    const auto reads = port().Calls(SerialCall::GetCommState);
    ASSERT_FALSE(reads.empty());

    EXPECT_EQ(serial_.Setup(115200, 8, NOPARITY, ONESTOPBIT), 0);
    EXPECT_EQ(port().State().fParity, 0u);
    // With parity checking off the parity byte does not count.
    dcb = port().State();
    dcb.Parity = EVENPARITY;
    port().SetState(dcb);
    EXPECT_EQ(serial_.GetParity(), 0);
    EXPECT_EQ(serial_.GetBaudRate(), 115200u);
    EXPECT_EQ(serial_.GetDataBits(), 8);
    EXPECT_EQ(serial_.GetStopBits(), 0);
}

TEST_F(SerialPortTest, SetupFailuresGiveThePlatformErrorWithoutALine)
{
    EXPECT_EQ(serial_.Setup(9600, 8, 0, 0), kNotOpen);
    OpenPort();
    port().Fail(SerialCall::GetCommState, 22);
    EXPECT_EQ(serial_.Setup(9600, 8, 0, 0), 22);
    port().Succeed(SerialCall::GetCommState);
    port().Fail(SerialCall::SetCommState, 87);
    EXPECT_EQ(serial_.Setup(9600, 8, 0, 0), 87);
    EXPECT_EQ(serial_.lastError, 87);
    EXPECT_TRUE(debug_.Lines().empty());
}

TEST_F(SerialPortTest, GettersReportTheirOwnLinesWhenClosedOrUnreadable)
{
    struct Expected {
        std::u16string notOpen;
        std::u16string readFailed;
    };
    const Expected expected[] = {
        {u"Error: Dispositivo no abierto\n", u"Error: No se pudo obtener DCB\n"},
        {u"Error: Dispositivo no abierto\n", u"E#1 - No se puede obtener la estructura DCB\n"},
        {u"E#5 - Dispositivo no abierto\n", u"E#2 - No se puede obtener la estructura DCB\n"},
        {u"Device is not opened\n", u"Unable to obtain DCB information\n"},
        {u"Device is not opened\n", u"Unable to obtain DCB information\n"},
        {u"Device is not opened\n", u"Unable to obtain DCB information\n"},
    };
    auto runAll = [this] {
        return std::vector<long long>{serial_.GetBaudRate(), serial_.GetDataBits(), serial_.GetParity(),
                                      serial_.GetStopBits(), serial_.GetFlowControl(), serial_.GetEventCharacter()};
    };
    EXPECT_EQ(runAll(), (std::vector<long long>{0xFFFFFFFF, -1, -1, -1, -1, 0}));
    EXPECT_EQ(serial_.lastError, kNotOpen);
    OpenPort();
    debug_.Clear();
    port().Fail(SerialCall::GetCommState, 1617);
    EXPECT_EQ(runAll(), (std::vector<long long>{0xFFFFFFFF, -1, -1, -1, -1, 0}));
    EXPECT_EQ(serial_.lastError, 1617);
    const auto lines = debug_.Lines();
    ASSERT_EQ(lines.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i], expected[i].readFailed) << "getter " << i;
    }
}

TEST_F(SerialPortTest, GettersNotOpenLines)
{
    serial_.GetBaudRate();
    serial_.GetDataBits();
    serial_.GetParity();
    serial_.GetStopBits();
    serial_.GetFlowControl();
    serial_.GetEventCharacter();
    EXPECT_EQ(debug_.Lines(), (std::vector<std::u16string>{u"Error: Dispositivo no abierto\n",
                                                           u"Error: Dispositivo no abierto\n",
                                                           u"E#5 - Dispositivo no abierto\n", kDeviceNotOpened,
                                                           kDeviceNotOpened, kDeviceNotOpened}));
}

TEST_F(SerialPortTest, FlowControlIsClassifiedFromDtrRtsAndXonXoff)
{
    OpenPort();
    DCB dcb = port().State();
    dcb.fOutxCtsFlow = 1;
    port().SetState(dcb);
    EXPECT_EQ(serial_.GetFlowControl(), CSerial::FlowNone);
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    port().SetState(dcb);
    EXPECT_EQ(serial_.GetFlowControl(), CSerial::FlowHardware);
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    port().SetState(dcb);
    EXPECT_EQ(serial_.GetFlowControl(), CSerial::FlowSoftware);
}

TEST_F(SerialPortTest, SetFlowControlWritesTheModesFlags)
{
    OpenPort();
    DCB start = port().State();
    start.XonChar = 0x21;
    start.XoffLim = 77;
    port().SetState(start);

    ASSERT_EQ(serial_.SetFlowControl(CSerial::FlowHardware), 0);
    DCB dcb = port().State();
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.XonChar, 0x21);
    EXPECT_EQ(dcb.XoffLim, 77);
    EXPECT_EQ(serial_.GetFlowControl(), CSerial::FlowHardware);

    ASSERT_EQ(serial_.SetFlowControl(CSerial::FlowSoftware), 0);
    dcb = port().State();
    EXPECT_EQ(dcb.fOutxCtsFlow + dcb.fOutxDsrFlow + dcb.fDtrControl + dcb.fRtsControl, 0u);
    EXPECT_EQ(dcb.fOutX + dcb.fInX, 2u);

    ASSERT_EQ(serial_.SetFlowControl(CSerial::FlowNone), 0);
    dcb = port().State();
    EXPECT_EQ(dcb.fOutX + dcb.fInX + dcb.fDtrControl + dcb.fRtsControl, 0u);
}

TEST_F(SerialPortTest, ModesOutsideTheEnumerationAreRefusedAfterThePlatformRead)
{
    EXPECT_EQ(serial_.SetFlowControl(static_cast<CSerial::FlowControl>(3)), kNotOpen);
    EXPECT_EQ(serial_.SetupReadTimeouts(static_cast<CSerial::ReadTimeoutMode>(2)), kNotOpen);
    OpenPort();
    const COMMTIMEOUTS before = port().Timeouts();
    const std::size_t stateWrites = port().Count(SerialCall::SetCommState);
    const std::size_t timeoutWrites = port().Count(SerialCall::SetCommTimeouts);
    EXPECT_EQ(serial_.SetFlowControl(static_cast<CSerial::FlowControl>(3)), E_INVALIDARG);
    EXPECT_EQ(serial_.lastError, E_INVALIDARG);
    EXPECT_EQ(serial_.SetupReadTimeouts(static_cast<CSerial::ReadTimeoutMode>(2)), E_INVALIDARG);
    EXPECT_EQ(port().Count(SerialCall::SetCommState), stateWrites);
    EXPECT_EQ(port().Count(SerialCall::SetCommTimeouts), timeoutWrites);
    const COMMTIMEOUTS after = port().Timeouts();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    port().Fail(SerialCall::GetCommState, 21);
    port().Fail(SerialCall::GetCommTimeouts, 21);
    EXPECT_EQ(serial_.SetFlowControl(static_cast<CSerial::FlowControl>(3)), 21);
    EXPECT_EQ(serial_.SetupReadTimeouts(static_cast<CSerial::ReadTimeoutMode>(2)), 21);
}

TEST_F(SerialPortTest, BlockingReadsClearAllThreeReadTimeouts)
{
    OpenPort();
    ASSERT_EQ(serial_.SetupReadTimeouts(CSerial::ReadBlocking), 0);
    const COMMTIMEOUTS timeouts = port().Timeouts();
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 9u);
}

TEST_F(SerialPortTest, EventCharacterAddsTheFlagEventOnlyWhenAsked)
{
    OpenPort();
    ASSERT_EQ(serial_.SetMask(EV_RXCHAR), 0);
    ASSERT_EQ(serial_.SetEventCharacter('\n', false), 0);
    EXPECT_EQ(serial_.eventMask, EV_RXCHAR);
    EXPECT_EQ(serial_.GetEventCharacter(), '\n');
    ASSERT_EQ(serial_.SetEventCharacter('$', true), 0);
    EXPECT_EQ(serial_.eventMask, EV_RXCHAR | EV_RXFLAG);
    EXPECT_EQ(port().Mask(), EV_RXCHAR | EV_RXFLAG);
    EXPECT_EQ(port().State().EvtChar, '$');

    // A failed mask is returned although the DCB was written.
    port().Fail(SerialCall::SetCommMask, 87);
    EXPECT_EQ(serial_.SetEventCharacter('*', true), 87);
    EXPECT_EQ(port().State().EvtChar, '*');
    EXPECT_EQ(serial_.eventMask, EV_RXCHAR | EV_RXFLAG);
}

TEST_F(SerialPortTest, WriteStringStopsAtTheFirstZeroAndWriteSendsEveryByte)
{
    OpenPort();
    DWORD written = 99;
    EXPECT_EQ(serial_.WriteString("", &written, nullptr, INFINITE), 0);
    EXPECT_EQ(written, 0u);
    const char withZero[] = {'a', 'b', '\0', 'c', 'd', '\0'};
    EXPECT_EQ(serial_.WriteString(withZero, nullptr, nullptr, INFINITE), 0);
    EXPECT_EQ(serial_.Write(withZero, 5, &written, nullptr, INFINITE), 0);
    EXPECT_EQ(written, 5u);
    const auto writes = port().Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_TRUE(writes[0].empty());
    EXPECT_EQ(writes[1], (std::vector<BYTE>{'a', 'b'}));
    EXPECT_EQ(writes[2], (std::vector<BYTE>{'a', 'b', 0, 'c', 'd'}));
}

TEST_F(SerialPortTest, ReadAndWriteOnAClosedObjectClearTheCount)
{
    DWORD count = 42;
    BYTE buffer[4];
    EXPECT_EQ(serial_.Read(buffer, 4, &count, nullptr, INFINITE), kNotOpen);
    EXPECT_EQ(count, 0u);
    count = 42;
    EXPECT_EQ(serial_.Write(buffer, 4, &count, nullptr, INFINITE), kNotOpen);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(serial_.WriteString("x", nullptr, nullptr, INFINITE), kNotOpen);
    EXPECT_EQ(debug_.Lines(), (std::vector<std::u16string>{kNotOpened, kDeviceNotOpened, kDeviceNotOpened}));
}

TEST_F(SerialPortTest, ReadReturnsWhatArrivedAndReportsFailures)
{
    OpenPort();
    BYTE buffer[8] = {};
    DWORD count = 7;
    EXPECT_EQ(serial_.Read(buffer, 8, &count, nullptr, INFINITE), 0);
    EXPECT_EQ(count, 0u);
    port().Feed({1, 0, 3});
    EXPECT_EQ(serial_.Read(buffer, 8, nullptr, nullptr, INFINITE), 0);   // the count is discarded
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);

    port().Fail(SerialCall::ReadFile, 1617);
    EXPECT_EQ(serial_.Read(buffer, 8, &count, nullptr, INFINITE), 1617);
    EXPECT_EQ(serial_.lastError, 1617);
    port().Fail(SerialCall::WriteFile, 1167);
    EXPECT_EQ(serial_.Write(buffer, 2, &count, nullptr, INFINITE), 1167);
    EXPECT_EQ(debug_.Lines(), (std::vector<std::u16string>{u"Error: No se puede leer el puerto serie\n",
                                                           u"CSerial::Write - Unable to write the data\n"}));
}

TEST_F(SerialPortTest, PurgeClearsBothQueuesAndIgnoresThePlatformResult)
{
    EXPECT_EQ(serial_.Purge(), kNotOpen);
    EXPECT_EQ(debug_.Lines(), std::vector<std::u16string>{kNotOpened});
    OpenPort();
    port().Fail(SerialCall::PurgeComm, 31);
    EXPECT_EQ(serial_.Purge(), 0);
    EXPECT_EQ(serial_.lastError, 0);
    const auto purges = port().Calls(SerialCall::PurgeComm);
    ASSERT_EQ(purges.size(), 1u);
    EXPECT_EQ(purges[0].argument, 0x0Cu);
}

TEST_F(SerialPortTest, WaitForEventStoresTheEvent)
{
    EXPECT_EQ(serial_.WaitForEvent(nullptr, INFINITE), kNotOpen);
    EXPECT_EQ(debug_.Lines(), std::vector<std::u16string>{u"Error: Dispositivo no disponible\n"});
    OpenPort();
    EXPECT_EQ(serial_.WaitForEvent(nullptr, INFINITE), 0);
    EXPECT_EQ(serial_.lastEvent, EV_RXCHAR);
    port().Fail(SerialCall::WaitCommEvent, 995);
    EXPECT_EQ(serial_.WaitForEvent(nullptr, INFINITE), 995);
}

TEST_F(SerialPortTest, AsynchronousUseIsReportedAndTheCallCarriesOn)
{
    MessageBoxRecorder boxes;
    OpenPort();
    OVERLAPPED overlapped{};
    EXPECT_EQ(serial_.Write("ab", 2, nullptr, &overlapped, INFINITE), 0);
    EXPECT_EQ(port().Writes().size(), 1u);
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[0].caption, u"Serial library");
    EXPECT_EQ(shown[0].type, 16u);
    EXPECT_EQ(shown[0].text, u"Overlapped I/O and time-outs are not supported, when overlapped I/O is disabled.");

    BYTE buffer[2];
    EXPECT_EQ(serial_.Read(buffer, 2, nullptr, nullptr, 500), 0);
    shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].text, u"Timeouts are not supported, when SERIAL_NO_CANCELIO is defined");

    EXPECT_EQ(serial_.WaitForEvent(nullptr, 0), 0);
    EXPECT_EQ(boxes.Boxes().size(), 4u);
}

TEST_F(SerialPortTest, TheReceiveEventComesFromAPortWhoseDriverCanTell)
{
    HANDLE event = INVALID_HANDLE_VALUE;
    EXPECT_EQ(serial_.CreateReceiveEvent(&event), kNotOpen);
    EXPECT_EQ(event, nullptr);
    EXPECT_EQ(serial_.CreateReceiveEvent(nullptr), static_cast<LONG>(E_INVALIDARG));
    OpenPort();
    // A driver that cannot tell when data arrives: its error, and no line.
    EXPECT_EQ(serial_.CreateReceiveEvent(&event), static_cast<LONG>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(serial_.lastError, static_cast<LONG>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(event, nullptr);
    EXPECT_TRUE(debug_.Lines().empty());

    port().OfferReceiveEvent();
    EXPECT_EQ(serial_.CreateReceiveEvent(&event), 0);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    port().Feed({'$'});
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    BYTE byte = 0;
    EXPECT_EQ(serial_.Read(&byte, 1, nullptr, nullptr, INFINITE), 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(CloseHandle(event), TRUE);
}

TEST_F(SerialPortTest, TheOutQueueIsAskedOfAnOpenPortOnly)
{
    DWORD count = 7;
    EXPECT_EQ(serial_.GetOutQueue(&count), kNotOpen);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(serial_.GetOutQueue(nullptr), static_cast<LONG>(E_INVALIDARG));
    OpenPort();
    count = 7;
    // A driver that keeps no count: its error, nothing counted, and no line.
    EXPECT_EQ(serial_.GetOutQueue(&count), static_cast<LONG>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(debug_.Lines().empty());
}

TEST_F(SerialPortTest, DestroyingAnOpenObjectClosesIt)
{
    {
        CSerial temporary;
        ASSERT_EQ(temporary.Open(u"COM3:", 0, 0, false), 0);
        CSerial copy(CSerial{});
        EXPECT_EQ(copy.portHandle, nullptr);
    }
    EXPECT_FALSE(port().IsOpen());
    EXPECT_EQ(port().Count(SerialCall::Close), 1u);
    // The port can be opened again once the object is gone.
    OpenPort();
}

}  // namespace
