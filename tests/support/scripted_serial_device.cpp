#include "support/scripted_serial_device.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "platform/driver_modules.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/serial_rules/dcb.h"

namespace tavrel::testing {
namespace {

std::atomic<std::uint64_t> nextSequence{1};

struct Ports {
    std::mutex lock;
    std::map<DWORD, std::unique_ptr<ScriptedPort>> byIndex;
};

Ports& ThePorts()
{
    static Ports ports;
    return ports;
}

ScriptedPort& PortAt(DWORD index)
{
    Ports& ports = ThePorts();
    std::lock_guard guard(ports.lock);
    auto& port = ports.byIndex[index];
    if (port == nullptr) {
        port = std::make_unique<ScriptedPort>(index);
    }
    return *port;
}

// A query-only open's context carries this bit beside the port's.
constexpr DRIVER_CONTEXT kQueryOnly = DRIVER_CONTEXT{1} << 24;

ScriptedPort& PortOf(DRIVER_CONTEXT context)
{
    return PortAt(static_cast<DWORD>((context & ~kQueryOnly) - 1));
}

template <typename T>
bool CopyIn(const BYTE* in, DWORD inSize, T& value)
{
    if (in == nullptr || inSize != sizeof(T)) {
        return false;
    }
    std::memcpy(&value, in, sizeof(T));
    return true;
}

template <typename T>
bool CopyOut(const T& value, BYTE* out, DWORD outSize)
{
    if (out == nullptr || outSize != sizeof(T)) {
        return false;
    }
    std::memcpy(out, &value, sizeof(T));
    return true;
}

SerialCall CallOf(DWORD code)
{
    switch (code) {
    case IOCTL_SERIAL_SET_QUEUE_SIZE: return SerialCall::SetupComm;
    case IOCTL_SERIAL_GET_DCB: return SerialCall::GetCommState;
    case IOCTL_SERIAL_SET_DCB: return SerialCall::SetCommState;
    case IOCTL_SERIAL_GET_TIMEOUTS: return SerialCall::GetCommTimeouts;
    case IOCTL_SERIAL_SET_TIMEOUTS: return SerialCall::SetCommTimeouts;
    case IOCTL_SERIAL_SET_WAIT_MASK: return SerialCall::SetCommMask;
    case IOCTL_SERIAL_GET_WAIT_MASK: return SerialCall::GetCommMask;
    case IOCTL_SERIAL_WAIT_ON_MASK: return SerialCall::WaitCommEvent;
    case IOCTL_SERIAL_GET_RECEIVE_WATCH: return SerialCall::ReceiveWatch;
    case IOCTL_SERIAL_GET_RECEIVE_READY: return SerialCall::ReceiveReady;
    case IOCTL_SERIAL_GET_COMMSTATUS: return SerialCall::ClearCommError;
    default: return SerialCall::PurgeComm;
    }
}

// The driver's entry points.
DRIVER_CONTEXT Init(const WCHAR*, const DEVICE_HOST* host)
{
    DWORD error = 0;
    if (!PortAt(host->deviceIndex).Activate(error)) {
        host->SetLastError(error);
        return 0;
    }
    return host->deviceIndex + 1;
}

BOOL Deinit(DRIVER_CONTEXT device)
{
    PortOf(device).Deactivate();
    return TRUE;
}

DRIVER_CONTEXT Open(DRIVER_CONTEXT device, DWORD access, DWORD)
{
    if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0) {
        PortOf(device).QueryOpen();
        return device | kQueryOnly;
    }
    DWORD error = 0;
    if (!PortOf(device).Open(error)) {
        SetLastError(error);
        return 0;
    }
    return device;
}

BOOL Close(DRIVER_CONTEXT open)
{
    if ((open & kQueryOnly) == 0) {
        PortOf(open).Close();
    }
    return TRUE;
}

DWORD Read(DRIVER_CONTEXT open, void* buffer, DWORD count)
{
    DWORD error = 0;
    const DWORD done = PortOf(open).Read(buffer, count, error);
    if (done == DRIVER_TRANSFER_FAILED) {
        SetLastError(error);
    }
    return done;
}

DWORD Write(DRIVER_CONTEXT open, const void* data, DWORD count)
{
    DWORD error = 0;
    const DWORD done = PortOf(open).Write(data, count, error);
    if (done == DRIVER_TRANSFER_FAILED) {
        SetLastError(error);
    }
    return done;
}

BOOL IOControl(DRIVER_CONTEXT open, DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD* actual)
{
    DWORD error = 0;
    if (!PortOf(open).Control(code, in, inSize, out, outSize, error)) {
        SetLastError(error);
        return FALSE;
    }
    if (actual != nullptr) {
        *actual = outSize;
    }
    return TRUE;
}

const STREAM_DRIVER_ENTRIES kEntries = {Init, Deinit, Open, Close, nullptr, Read, Write, IOControl};

}  // namespace

// A new port starts as every serial port does, at the rate Windows gives one.
ScriptedPort::ScriptedPort(DWORD index)
    : index_(index),
      dcb_(platform::serial_rules::DefaultDcb(CBR_9600)),
      dataSignal_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

void ScriptedPort::Fail(SerialCall call, DWORD error, int skip)
{
    std::lock_guard guard(lock_);
    std::erase_if(failures_, [call](const Failure& failure) { return failure.call == call; });
    failures_.push_back({call, error, skip});
    UpdateDataSignal();
}

void ScriptedPort::Succeed(SerialCall call)
{
    std::lock_guard guard(lock_);
    std::erase_if(failures_, [call](const Failure& failure) { return failure.call == call; });
    UpdateDataSignal();
}

void ScriptedPort::Feed(const std::vector<BYTE>& bytes)
{
    std::lock_guard guard(lock_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    UpdateDataSignal();
}

void ScriptedPort::OfferReceiveEvent()
{
    std::lock_guard guard(lock_);
    offersReceiveEvent_ = true;
}

void ScriptedPort::AnswerOutQueue(std::vector<DWORD> counts)
{
    std::lock_guard guard(lock_);
    outQueues_ = std::move(counts);
}

void ScriptedPort::AnswerIdentity(std::vector<DWORD> verdicts)
{
    std::lock_guard guard(lock_);
    verdicts_ = std::move(verdicts);
}

void ScriptedPort::BreakReceiveWatch()
{
    std::lock_guard guard(lock_);
    receiveWatchBroken_ = true;
}

bool ScriptedPort::ReadWouldReturn() const
{
    const auto failure = std::find_if(failures_.begin(), failures_.end(), [](const Failure& armed) {
        return armed.call == SerialCall::ReadFile && armed.skip == 0;
    });
    return !input_.empty() || failure != failures_.end();
}

void ScriptedPort::UpdateDataSignal()
{
    const bool ready = ReadWouldReturn();
    if (ready == signalled_) {
        return;
    }
    std::uint64_t value = 1;
    [[maybe_unused]] const ssize_t done =
        ready ? ::write(dataSignal_.get(), &value, sizeof value) : ::read(dataSignal_.get(), &value, sizeof value);
    signalled_ = ready;
}

void ScriptedPort::OnRead(std::function<void()> hook)
{
    std::lock_guard guard(lock_);
    onRead_ = std::move(hook);
}

void ScriptedPort::SetState(const DCB& dcb)
{
    std::lock_guard guard(lock_);
    dcb_ = dcb;
}

void ScriptedPort::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard guard(lock_);
    timeouts_ = timeouts;
}

std::vector<RecordedCall> ScriptedPort::Calls() const
{
    std::lock_guard guard(lock_);
    return calls_;
}

std::vector<RecordedCall> ScriptedPort::Calls(SerialCall call) const
{
    std::vector<RecordedCall> chosen = Calls();
    std::erase_if(chosen, [call](const RecordedCall& recorded) { return recorded.call != call; });
    return chosen;
}

std::vector<std::vector<BYTE>> ScriptedPort::Writes() const
{
    std::vector<std::vector<BYTE>> writes;
    for (const RecordedCall& call : Calls(SerialCall::WriteFile)) {
        writes.push_back(call.data);
    }
    return writes;
}

std::size_t ScriptedPort::Count(SerialCall call) const
{
    return Calls(call).size();
}

DCB ScriptedPort::State() const
{
    std::lock_guard guard(lock_);
    return dcb_;
}

COMMTIMEOUTS ScriptedPort::Timeouts() const
{
    std::lock_guard guard(lock_);
    return timeouts_;
}

DWORD ScriptedPort::Mask() const
{
    std::lock_guard guard(lock_);
    return mask_;
}

bool ScriptedPort::IsOpen() const
{
    std::lock_guard guard(lock_);
    return open_;
}

bool ScriptedPort::IsActive() const
{
    std::lock_guard guard(lock_);
    return active_;
}

std::size_t ScriptedPort::Pending() const
{
    std::lock_guard guard(lock_);
    return input_.size();
}

bool ScriptedPort::Failing(SerialCall call, DWORD& error)
{
    const auto found = std::find_if(failures_.begin(), failures_.end(),
                                    [call](const Failure& failure) { return failure.call == call; });
    if (found == failures_.end()) {
        return false;
    }
    if (found->skip > 0) {
        --found->skip;
        return false;
    }
    error = found->error;
    return true;
}

void ScriptedPort::Record(RecordedCall call)
{
    call.port = index_;
    call.sequence = nextSequence.fetch_add(1);
    calls_.push_back(std::move(call));
}

bool ScriptedPort::Activate(DWORD& error)
{
    std::lock_guard guard(lock_);
    Record({SerialCall::Activate, 0, {}});
    if (Failing(SerialCall::Activate, error)) {
        return false;
    }
    active_ = true;
    return true;
}

void ScriptedPort::Deactivate()
{
    std::lock_guard guard(lock_);
    Record({SerialCall::Deactivate, 0, {}});
    active_ = false;
}

bool ScriptedPort::Open(DWORD& error)
{
    std::lock_guard guard(lock_);
    Record({SerialCall::Open, 0, {}});
    if (Failing(SerialCall::Open, error)) {
        return false;
    }
    open_ = true;
    return true;
}

void ScriptedPort::QueryOpen()
{
    std::lock_guard guard(lock_);
    Record({SerialCall::QueryOpen, 0, {}});
}

void ScriptedPort::Close()
{
    std::lock_guard guard(lock_);
    Record({SerialCall::Close, 0, {}});
    open_ = false;
}

bool ScriptedPort::Control(DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& error)
{
    std::lock_guard guard(lock_);
    if (code == IOCTL_SERIAL_GET_DEVICE_IDENTITY || code == IOCTL_SERIAL_COMPARE_DEVICE_IDENTITY) {
        return IdentityControl(code, out, outSize, error);
    }
    return ControlLocked(CallOf(code), in, inSize, out, outSize, error);
}

bool ScriptedPort::ControlLocked(SerialCall call, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                                 DWORD& error)
{
    RecordedCall record{call, 0, {}};
    DWORD sizes[2] = {};
    bool wellFormed = true;
    switch (call) {
    case SerialCall::SetupComm:
        wellFormed = CopyIn(in, inSize, sizes);
        record.argument = sizes[0];
        record.argument2 = sizes[1];
        break;
    case SerialCall::SetCommMask:
    case SerialCall::PurgeComm: wellFormed = CopyIn(in, inSize, record.argument); break;
    default: break;
    }
    if (call == SerialCall::ReceiveWatch || call == SerialCall::ReceiveReady) {
        return ReceiveControl(call, out, outSize, error);
    }
    if (call == SerialCall::ClearCommError) {
        return CommStatusControl(out, outSize, error);
    }
    Record(record);
    if (Failing(call, error)) {
        return false;
    }
    error = ERROR_INVALID_PARAMETER;
    switch (call) {
    case SerialCall::GetCommState: return CopyOut(dcb_, out, outSize);
    case SerialCall::SetCommState: return CopyIn(in, inSize, dcb_);
    case SerialCall::GetCommTimeouts: return CopyOut(timeouts_, out, outSize);
    case SerialCall::SetCommTimeouts: return CopyIn(in, inSize, timeouts_);
    case SerialCall::GetCommMask: return CopyOut(mask_, out, outSize);
    case SerialCall::SetCommMask:
        mask_ = record.argument;
        return wellFormed;
    case SerialCall::WaitCommEvent: return CopyOut(mask_ & EV_RXCHAR, out, outSize);
    default: return wellFormed;
    }
}

bool ScriptedPort::CommStatusControl(BYTE* out, DWORD outSize, DWORD& error)
{
    const DWORD count = outQueues_.empty() ? 0 : outQueues_.front();
    if (outQueues_.size() > 1) {
        outQueues_.erase(outQueues_.begin());
    }
    Record({SerialCall::ClearCommError, 0, {}, count});
    error = ERROR_INVALID_FUNCTION;
    if (outQueues_.empty() || Failing(SerialCall::ClearCommError, error)) {
        return false;
    }
    SERIAL_DEV_STATUS status{};
    status.ComStat.cbOutQue = count;
    error = ERROR_INVALID_PARAMETER;
    return CopyOut(status, out, outSize);
}

bool ScriptedPort::IdentityControl(DWORD code, BYTE* out, DWORD outSize, DWORD& error)
{
    const bool comparing = code == IOCTL_SERIAL_COMPARE_DEVICE_IDENTITY;
    const DWORD verdict = verdicts_.empty() ? COMM_DEVICE_SAME : verdicts_.front();
    if (comparing && verdicts_.size() > 1) {
        verdicts_.erase(verdicts_.begin());
    }
    Record({SerialCall::DeviceIdentity, 0, {}, comparing ? verdict : 0});
    error = ERROR_INVALID_FUNCTION;
    if (verdicts_.empty() || Failing(SerialCall::DeviceIdentity, error)) {
        return false;
    }
    error = ERROR_INVALID_PARAMETER;
    return comparing ? CopyOut(verdict, out, outSize) : CopyOut(COMM_DEVICE_IDENTITY{}, out, outSize);
}

bool ScriptedPort::ReceiveControl(SerialCall call, BYTE* out, DWORD outSize, DWORD& error)
{
    const DWORD ready = ReadWouldReturn() ? 1 : 0;
    Record({call, 0, {}, call == SerialCall::ReceiveReady ? ready : 0});
    error = ERROR_INVALID_FUNCTION;
    if (!offersReceiveEvent_ || Failing(call, error)) {
        return false;
    }
    if (call == SerialCall::ReceiveReady) {
        return CopyOut(ready, out, outSize);
    }
    const int watch = NewReceiveWatch();
    error = ERROR_NOT_ENOUGH_MEMORY;
    return watch >= 0 && CopyOut(static_cast<DWORD>(watch), out, outSize);
}

int ScriptedPort::NewReceiveWatch() const
{
    if (!receiveWatchBroken_) {
        // A copy of the port's own descriptor.
        return ::fcntl(dataSignal_.get(), F_DUPFD_CLOEXEC, 0);
    }
    // With its read end closed, the write end of a pipe polls POLLERR for good.
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    ::close(ends[0]);
    return ends[1];
}

DWORD ScriptedPort::Read(void* buffer, DWORD count, DWORD& error)
{
    std::function<void()> hook;
    {
        std::lock_guard guard(lock_);
        hook = onRead_;
    }
    if (hook) {
        hook();
    }
    std::lock_guard guard(lock_);
    if (Failing(SerialCall::ReadFile, error)) {
        Record({SerialCall::ReadFile, 0, {}});
        UpdateDataSignal();
        return DRIVER_TRANSFER_FAILED;
    }
    const auto taken = std::min<std::size_t>(count, input_.size());
    std::vector<BYTE> bytes(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(taken));
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(taken));
    if (taken != 0) {
        std::memcpy(buffer, bytes.data(), taken);
    }
    Record({SerialCall::ReadFile, 0, std::move(bytes)});
    UpdateDataSignal();
    return static_cast<DWORD>(taken);
}

DWORD ScriptedPort::Write(const void* data, DWORD count, DWORD& error)
{
    std::lock_guard guard(lock_);
    const auto* bytes = static_cast<const BYTE*>(data);
    Record({SerialCall::WriteFile, 0, std::vector<BYTE>(bytes, bytes + count)});
    if (Failing(SerialCall::WriteFile, error)) {
        return DRIVER_TRANSFER_FAILED;
    }
    return count;
}

ScriptedSerialDevices::ScriptedSerialDevices()
{
    platform::RegisterBuiltInModule(kModule, &kEntries);
}

ScriptedSerialDevices::~ScriptedSerialDevices()
{
    platform::UnregisterBuiltInModule(kModule);
    Ports& ports = ThePorts();
    std::lock_guard guard(ports.lock);
    ports.byIndex.clear();
}

ScriptedPort& ScriptedSerialDevices::Port(DWORD index)
{
    return PortAt(index);
}

void ScriptedSerialDevices::WriteDriverKey(const std::u16string& keyPath, DWORD index)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    auto setText = [key](const WCHAR* name, const std::u16string& text) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
    };
    setText(u"Dll", kModule);
    setText(u"Prefix", u"COM");
    RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), sizeof(index));
    RegCloseKey(key);
}

}  // namespace tavrel::testing
