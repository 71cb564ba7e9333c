#include "serial_driver_fixture.h"

#include "drivers/serial/serial_driver.h"
#include "platform/kernel.h"
#include "platform/strings.h"

namespace tavrel::testing {

SerialDriverInstance::SerialDriverInstance() : driver_(*platform::HostSerialDriverEntries()) {}

void SerialDriverInstance::SetUp()
{
    host_.SetString(u"HostDevice", platform::ToUtf16(pty_.slavePath()));
    device_ = driver_.Init(host_.registryPath(), host_.host());
    ASSERT_NE(device_, 0u) << "Init failed with " << GetLastError();
}

void SerialDriverInstance::TearDown()
{
    if (open_ != 0) {
        EXPECT_EQ(driver_.PreClose(open_), TRUE);
        EXPECT_EQ(driver_.Close(open_), TRUE);
    }
    if (device_ != 0) {
        EXPECT_EQ(driver_.Deinit(device_), TRUE);
    }
}

void SerialDriverInstance::OpenPort()
{
    DWORD error = 0;
    open_ = TryOpen(error);
    ASSERT_NE(open_, 0u) << "Open failed with " << error;
}

DRIVER_CONTEXT SerialDriverInstance::TryOpen(DWORD& error)
{
    SetLastError(0);
    const DRIVER_CONTEXT open = driver_.Open(device_, GENERIC_READ | GENERIC_WRITE, 0);
    error = GetLastError();
    return open;
}

void SerialDriver::SetUp()
{
    SerialDriverInstance::SetUp();
    if (!HasFatalFailure()) {
        OpenPort();
    }
}

BOOL SerialDriverInstance::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                                   DWORD* outActual)
{
    return driver_.IOControl(open_, code, static_cast<const BYTE*>(in), inSize, static_cast<BYTE*>(out), outSize,
                             outActual);
}

DCB SerialDriverInstance::GetDcb()
{
    DCB dcb{};
    EXPECT_EQ(Control(IOCTL_SERIAL_GET_DCB, nullptr, 0, &dcb, sizeof dcb), TRUE);
    return dcb;
}

BOOL SerialDriverInstance::SetDcb(const DCB& dcb)
{
    return ControlIn(IOCTL_SERIAL_SET_DCB, dcb);
}

void SerialDriverInstance::SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant, DWORD writeMultiplier,
                                       DWORD writeConstant)
{
    const COMMTIMEOUTS timeouts{interval, multiplier, constant, writeMultiplier, writeConstant};
    EXPECT_EQ(ControlIn(IOCTL_SERIAL_SET_TIMEOUTS, timeouts), TRUE);
}

BOOL SerialDriverInstance::SetWaitMask(DWORD mask)
{
    return ControlIn(IOCTL_SERIAL_SET_WAIT_MASK, mask);
}

BOOL SerialDriverInstance::Purge(DWORD flags)
{
    return ControlIn(IOCTL_SERIAL_PURGE, flags);
}

BOOL SerialDriverInstance::WaitOnMask(DWORD& events)
{
    return Control(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &events, sizeof events);
}

DWORD SerialDriverInstance::Read(std::vector<unsigned char>& into, DWORD count)
{
    into.assign(count, 0);
    const DWORD got = driver_.Read(open_, into.data(), count);
    into.resize(got == DRIVER_TRANSFER_FAILED ? 0 : got);
    return got;
}

DWORD SerialDriverInstance::Write(const std::vector<unsigned char>& bytes)
{
    return driver_.Write(open_, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void SerialDriverInstance::DeliverToDriver(const std::vector<unsigned char>& bytes)
{
    DCB dcb = GetDcb();
    dcb.EvtChar = static_cast<char>(bytes.back());
    ASSERT_EQ(SetDcb(dcb), TRUE);
    ASSERT_EQ(SetWaitMask(EV_RXFLAG), TRUE);
    pty_.Write(bytes);
    DWORD events = 0;
    ASSERT_EQ(WaitOnMask(events), TRUE);
    ASSERT_EQ(events, EV_RXFLAG);
}

void SerialDriverInstance::FillOutput()
{
    SetTimeouts(0, 0, 0, 0, 1);
    const std::vector<unsigned char> block(4096, 0x55);
    while (Write(block) == block.size()) {
    }
}

std::vector<unsigned char> SerialDriverInstance::ReadUntil(std::size_t count)
{
    std::vector<unsigned char> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::vector<unsigned char> chunk;
        if (Read(chunk, static_cast<DWORD>(count - got.size())) == DRIVER_TRANSFER_FAILED) {
            break;
        }
        got.insert(got.end(), chunk.begin(), chunk.end());
        if (chunk.empty()) {
            Sleep(5);
        }
    }
    return got;
}

}  // namespace tavrel::testing
