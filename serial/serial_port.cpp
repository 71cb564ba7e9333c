#include "serial/serial_port.h"

#include <cstring>

#include "platform/kernel.h"
#include "platform/message_box.h"

namespace {

constexpr LONG kNotOpen = static_cast<LONG>(ERROR_INVALID_HANDLE);
constexpr LONG kAlreadyOpen = static_cast<LONG>(ERROR_ALREADY_INITIALIZED);
constexpr LONG kInvalidArgument = E_INVALIDARG;
constexpr DWORD kDcbLength = 28;

const WCHAR kNotAvailable[] = u"Error: Dispositivo no disponible\n";
const WCHAR kNotOpened[] = u"Error: Dispositivo no abierto\n";
const WCHAR kDeviceNotOpened[] = u"Device is not opened\n";
const WCHAR kNoDcbInformation[] = u"Unable to obtain DCB information\n";

// Runs one getter: reads the DCB and returns pick(dcb), or `failed` with the
// getter's own lines for a closed port and for a failed read.
template <typename Result, typename Pick>
Result ReadDcbField(CSerial& port, bool (CSerial::*readState)(DCB&), Result failed, LPCWSTR notOpenLine,
                    LPCWSTR readFailedLine, Pick pick)
{
    port.lastError = 0;
    if (port.portHandle == nullptr) {
        port.lastError = kNotOpen;
        OutputDebugStringW(notOpenLine);
        return failed;
    }
    DCB dcb{};
    if (!(port.*readState)(dcb)) {
        OutputDebugStringW(readFailedLine);
        return failed;
    }
    return pick(dcb);
}

}  // namespace

CSerial::CSerial() = default;

CSerial::~CSerial()
{
    if (portHandle != nullptr) {
        CSerial::Close();
    }
}

LONG CSerial::TakePlatformError()
{
    lastError = static_cast<LONG>(GetLastError());
    return lastError;
}

bool CSerial::IsClosed(LPCWSTR notOpenLine)
{
    if (portHandle != nullptr) {
        return false;
    }
    lastError = kNotOpen;
    if (notOpenLine != nullptr) {
        OutputDebugStringW(notOpenLine);
    }
    return true;
}

bool CSerial::ReadState(DCB& dcb)
{
    dcb.DCBlength = kDcbLength;
    if (!::GetCommState(portHandle, &dcb)) {
        TakePlatformError();
        return false;
    }
    return true;
}

LONG CSerial::WriteState(DCB& dcb)
{
    if (!::SetCommState(portHandle, &dcb)) {
        return TakePlatformError();
    }
    return lastError;
}

LONG CSerial::Open(LPCWSTR device, DWORD inQueue, DWORD outQueue, bool overlapped)
{
    lastError = 0;
    if (portHandle != nullptr) {
        lastError = kAlreadyOpen;
        return lastError;
    }
    portHandle = ::CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (portHandle == INVALID_HANDLE_VALUE) {
        portHandle = nullptr;
        return TakePlatformError();
    }
    if (inQueue != 0 || outQueue != 0) {
        if (!::SetupComm(portHandle, inQueue, outQueue)) {
            const LONG error = static_cast<LONG>(GetLastError());
            Close();
            lastError = error;
            return lastError;
        }
    }
    SetMask(EV_RXCHAR | EV_RXFLAG);
    SetupReadTimeouts(ReadNonBlocking);
    return lastError;
}

LONG CSerial::Close()
{
    lastError = 0;
    if (portHandle != nullptr) {
        ::CloseHandle(portHandle);
        portHandle = nullptr;
    }
    return 0;
}

LONG CSerial::Setup(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits)
{
    lastError = 0;
    DCB dcb{};
    if (IsClosed(nullptr) || !ReadState(dcb)) {
        return lastError;
    }
    dcb.BaudRate = baudRate;
    dcb.ByteSize = dataBits;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fParity = parity != 0 ? 1 : 0;
    return WriteState(dcb);
}

LONG CSerial::SetEventCharacter(BYTE eventCharacter, bool addFlagEvent)
{
    lastError = 0;
    DCB dcb{};
    if (IsClosed(nullptr) || !ReadState(dcb)) {
        return lastError;
    }
    dcb.EvtChar = static_cast<char>(eventCharacter);
    if (addFlagEvent) {
        SetMask(GetMask() | EV_RXFLAG);
    }
    return WriteState(dcb);
}

LONG CSerial::SetMask(DWORD mask)
{
    lastError = 0;
    if (IsClosed(kNotAvailable)) {
        return lastError;
    }
    if (!::SetCommMask(portHandle, mask)) {
        TakePlatformError();
        OutputDebugStringW(u"Error: No se pudo ajustar la m\u00e1scara de eventos\n");
        return lastError;
    }
    eventMask = mask;
    return lastError;
}

LONG CSerial::WaitForEvent(LPOVERLAPPED overlapped, DWORD timeout)
{
    CheckSynchronousUse(overlapped, timeout);
    lastError = 0;
    if (IsClosed(kNotAvailable)) {
        return lastError;
    }
    if (!::WaitCommEvent(portHandle, &lastEvent, nullptr)) {
        return TakePlatformError();
    }
    return lastError;
}

LONG CSerial::SetFlowControl(FlowControl mode)
{
    lastError = 0;
    DCB dcb{};
    if (IsClosed(nullptr) || !ReadState(dcb)) {
        return lastError;
    }
    const bool hardware = mode == FlowHardware;
    const bool software = mode == FlowSoftware;
    if (!hardware && !software && mode != FlowNone) {
        lastError = kInvalidArgument;
        return lastError;
    }
    dcb.fOutxCtsFlow = hardware ? 1 : 0;
    dcb.fOutxDsrFlow = hardware ? 1 : 0;
    dcb.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = software ? 1 : 0;
    dcb.fInX = software ? 1 : 0;
    return WriteState(dcb);
}

LONG CSerial::SetupReadTimeouts(ReadTimeoutMode mode)
{
    lastError = 0;
    if (IsClosed(nullptr)) {
        return lastError;
    }
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(portHandle, &timeouts)) {
        return TakePlatformError();
    }
    if (mode != ReadNonBlocking && mode != ReadBlocking) {
        lastError = kInvalidArgument;
        return lastError;
    }
    timeouts.ReadIntervalTimeout = mode == ReadNonBlocking ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    if (!::SetCommTimeouts(portHandle, &timeouts)) {
        return TakePlatformError();
    }
    return lastError;
}

DWORD CSerial::GetBaudRate()
{
    return ReadDcbField<DWORD>(*this, &CSerial::ReadState, 0xFFFFFFFF, u"Error: Dispositivo no abierto\n",
                               u"Error: No se pudo obtener DCB\n", [](const DCB& dcb) { return dcb.BaudRate; });
}

int CSerial::GetDataBits()
{
    return ReadDcbField<int>(*this, &CSerial::ReadState, -1, u"Error: Dispositivo no abierto\n",
                             u"E#1 - No se puede obtener la estructura DCB\n",
                             [](const DCB& dcb) { return static_cast<int>(dcb.ByteSize); });
}

int CSerial::GetParity()
{
    return ReadDcbField<int>(*this, &CSerial::ReadState, -1, u"E#5 - Dispositivo no abierto\n",
                             u"E#2 - No se puede obtener la estructura DCB\n",
                             [](const DCB& dcb) { return dcb.fParity ? static_cast<int>(dcb.Parity) : NOPARITY; });
}

int CSerial::GetStopBits()
{
    return ReadDcbField<int>(*this, &CSerial::ReadState, -1, kDeviceNotOpened, kNoDcbInformation,
                             [](const DCB& dcb) { return static_cast<int>(dcb.StopBits); });
}

int CSerial::GetFlowControl()
{
    return ReadDcbField<int>(*this, &CSerial::ReadState, -1, kDeviceNotOpened, kNoDcbInformation, [](const DCB& dcb) {
        if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
            return static_cast<int>(FlowHardware);
        }
        return static_cast<int>(dcb.fOutX && dcb.fInX ? FlowSoftware : FlowNone);
    });
}

DWORD CSerial::GetMask()
{
    lastError = 0;
    return IsClosed(kNotOpened) ? 0 : eventMask;
}

BYTE CSerial::GetEventCharacter()
{
    return ReadDcbField<BYTE>(*this, &CSerial::ReadState, 0, kDeviceNotOpened, kNoDcbInformation,
                              [](const DCB& dcb) { return static_cast<BYTE>(dcb.EvtChar); });
}

LONG CSerial::WriteString(const char* text, DWORD* written, LPOVERLAPPED overlapped, DWORD timeout)
{
    CheckSynchronousUse(overlapped, timeout);
    return Write(text, static_cast<DWORD>(std::strlen(text)), written, overlapped, timeout);
}

LONG CSerial::Write(const void* data, DWORD size, DWORD* written, LPOVERLAPPED overlapped, DWORD timeout)
{
    CheckSynchronousUse(overlapped, timeout);
    lastError = 0;
    DWORD local = 0;
    DWORD& count = written != nullptr ? *written : local;
    count = 0;
    if (IsClosed(kDeviceNotOpened)) {
        return lastError;
    }
    if (!::WriteFile(portHandle, data, size, &count, nullptr)) {
        TakePlatformError();
        OutputDebugStringW(u"CSerial::Write - Unable to write the data\n");
    }
    return lastError;
}

LONG CSerial::Read(void* buffer, DWORD size, DWORD* read, LPOVERLAPPED overlapped, DWORD timeout)
{
    CheckSynchronousUse(overlapped, timeout);
    lastError = 0;
    DWORD local = 0;
    DWORD& count = read != nullptr ? *read : local;
    count = 0;
    if (IsClosed(kNotOpened)) {
        return lastError;
    }
    if (!::ReadFile(portHandle, buffer, size, &count, nullptr)) {
        TakePlatformError();
        OutputDebugStringW(u"Error: No se puede leer el puerto serie\n");
    }
    return lastError;
}

LONG CSerial::Purge()
{
    lastError = 0;
    if (IsClosed(kNotOpened)) {
        return lastError;
    }
    ::PurgeComm(portHandle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return 0;
}

template <typename T>
bool CSerial::ReadyToAnswer(T* out)
{
    lastError = 0;
    if (out == nullptr) {
        lastError = kInvalidArgument;
        return false;
    }
    *out = T{};
    return !IsClosed(nullptr);
}

LONG CSerial::CreateReceiveEvent(HANDLE* event)
{
    if (!ReadyToAnswer(event)) {
        return lastError;
    }
    *event = ::CreateCommReceiveEvent(portHandle);
    return *event != nullptr ? lastError : TakePlatformError();
}

LONG CSerial::GetOutQueue(DWORD* count)
{
    if (!ReadyToAnswer(count)) {
        return lastError;
    }
    COMSTAT stat{};
    if (!::ClearCommError(portHandle, nullptr, &stat)) {
        return TakePlatformError();
    }
    *count = stat.cbOutQue;
    return lastError;
}

LONG CSerial::GetDeviceIdentity(COMM_DEVICE_IDENTITY* identity)
{
    if (!ReadyToAnswer(identity)) {
        return lastError;
    }
    return ::GetCommDeviceIdentity(portHandle, identity) ? lastError : TakePlatformError();
}

LONG CSerial::CompareDeviceIdentity(const COMM_DEVICE_IDENTITY& remembered, DWORD* verdict)
{
    if (!ReadyToAnswer(verdict)) {
        return lastError;
    }
    return ::CompareCommDeviceIdentity(portHandle, &remembered, verdict) ? lastError : TakePlatformError();
}

void CSerial::CheckSynchronousUse(LPOVERLAPPED overlapped, DWORD timeout)
{
    if (overlapped != nullptr || timeout != INFINITE) {
        ::MessageBoxW(nullptr, u"Overlapped I/O and time-outs are not supported, when overlapped I/O is disabled.",
                      u"Serial library", MB_ICONHAND);
        ::DebugBreak();
    }
    if (timeout != 0 && timeout != INFINITE) {
        ::MessageBoxW(nullptr, u"Timeouts are not supported, when SERIAL_NO_CANCELIO is defined", u"Serial library",
                      MB_ICONHAND);
        ::DebugBreak();
    }
}
