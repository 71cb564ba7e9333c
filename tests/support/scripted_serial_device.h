// A scriptable serial device at the platform's edge: a stream driver module
// ("scripted.dll", built into the test process) whose instances stand for
// serial ports. A test feeds input, tells it to fail any platform call with a
// chosen error, and reads back every call it received, each write as one
// record. Reads return at once with what has been fed, as a port does under
// non-blocking read time-outs. A port tells when data arrives (the receive
// event of CreateCommReceiveEvent) only once a test asks it to, and records
// every readiness question with its answer, so that a test can see which
// object ended a wait.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm.h"
#include "platform/host/unique_fd.h"

namespace tavrel::testing {

// The platform calls that reach a serial driver.
enum class SerialCall {
    Activate,   // ActivateDeviceEx (the driver's Init)
    Deactivate,
    Open,       // CreateFileW
    Close,      // CloseHandle
    SetupComm,
    GetCommState,
    SetCommState,
    GetCommTimeouts,
    SetCommTimeouts,
    SetCommMask,
    GetCommMask,
    WaitCommEvent,
    PurgeComm,
    ReadFile,
    WriteFile,
    ReceiveWatch,   // the receive event's descriptor was asked for
    ReceiveReady,   // whether a read would return at once; argument: the answer, 0 or 1
    ClearCommError, // argument: the out-queue count answered
    QueryOpen,      // CreateFileW with no access, beside an open for data or none
    DeviceIdentity, // asked or compared; argument: the verdict answered to a comparison
};

struct RecordedCall {
    SerialCall call;
    DWORD port;                 // the device index, the n of "COMn:"
    std::vector<BYTE> data;     // WriteFile: the bytes; ReadFile: the bytes returned
    DWORD argument = 0;         // SetCommMask: the mask; PurgeComm: the flags; SetupComm: input queue size
    DWORD argument2 = 0;        // SetupComm: output queue size
    std::uint64_t sequence = 0; // order across all ports
};

class ScriptedPort {
public:
    explicit ScriptedPort(DWORD index);

    // From now on the call fails with `error` (the platform's last error),
    // after the next `skip` calls of it have succeeded.
    void Fail(SerialCall call, DWORD error, int skip = 0);
    void Succeed(SerialCall call);
    void Feed(const std::vector<BYTE>& bytes);
    // Runs on the reading thread at each ReadFile, before it takes its bytes.
    void OnRead(std::function<void()> hook);
    // From now on the port offers a receive event; until then those controls
    // fail with ERROR_INVALID_FUNCTION, as with a driver that cannot tell.
    void OfferReceiveEvent();
    // From now on the receive watch that the port hands out is broken, as a
    // faulty driver's would be: a descriptor in error (the write end of a pipe
    // that nobody reads), so that a wait on a receive event made from it fails.
    void BreakReceiveWatch();
    // From now on ClearCommError answers these counts of bytes waiting to be
    // sent, one per call and then the last one for good; until then the port
    // keeps no count and the call fails with ERROR_INVALID_FUNCTION.
    void AnswerOutQueue(std::vector<DWORD> counts);
    // From now on the port tells who its device is: each comparison of its
    // identity (on a query-only open or on the data open) answers these
    // COMM_DEVICE_ verdicts, one per call and then the last one for good;
    // until then those controls fail with ERROR_INVALID_FUNCTION.
    void AnswerIdentity(std::vector<DWORD> verdicts);
    // What GetCommState reports until the next SetCommState.
    void SetState(const DCB& dcb);
    void SetTimeouts(const COMMTIMEOUTS& timeouts);

    std::vector<RecordedCall> Calls() const;
    std::vector<RecordedCall> Calls(SerialCall call) const;
    std::vector<std::vector<BYTE>> Writes() const;
    std::size_t Count(SerialCall call) const;
    DCB State() const;
    COMMTIMEOUTS Timeouts() const;
    DWORD Mask() const;
    bool IsOpen() const;
    bool IsActive() const;
    std::size_t Pending() const;   // fed bytes not read yet

    // Entry points of the driver, called by the platform.
    bool Activate(DWORD& error);
    void Deactivate();
    bool Open(DWORD& error);
    void Close();
    void QueryOpen();
    bool Control(DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& error);
    DWORD Read(void* buffer, DWORD count, DWORD& error);
    DWORD Write(const void* data, DWORD count, DWORD& error);

private:
    bool Failing(SerialCall call, DWORD& error);   // lock held
    void Record(RecordedCall call);                     // lock held
    bool ControlLocked(SerialCall call, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& error);
    bool ReceiveControl(SerialCall call, BYTE* out, DWORD outSize, DWORD& error);   // lock held
    bool CommStatusControl(BYTE* out, DWORD outSize, DWORD& error);                 // lock held
    bool IdentityControl(DWORD code, BYTE* out, DWORD outSize, DWORD& error);       // lock held
    // A new descriptor for a receive watch, which the caller owns; -1 on failure. Lock held.
    int NewReceiveWatch() const;
    // Whether a read would return at once: bytes fed, or a read failure armed. Lock held.
    bool ReadWouldReturn() const;
    // Keeps dataSignal_ readable exactly while ReadWouldReturn(). Lock held.
    void UpdateDataSignal();

    const DWORD index_;
    mutable std::mutex lock_;
    struct Failure {
        SerialCall call;
        DWORD error;
        int skip;
    };
    std::vector<Failure> failures_;
    std::vector<BYTE> input_;
    std::function<void()> onRead_;
    std::vector<RecordedCall> calls_;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    bool open_ = false;
    bool active_ = false;
    bool offersReceiveEvent_ = false;
    bool receiveWatchBroken_ = false;
    platform::host::UniqueFd dataSignal_;   // an eventfd; the receive event's descriptors are copies
    bool signalled_ = false;
    std::vector<DWORD> outQueues_;
    std::vector<DWORD> verdicts_;
};

// Registers "scripted.dll" for its lifetime; ports are made on first use.
class ScriptedSerialDevices {
public:
    static constexpr const char16_t* kModule = u"scripted.dll";

    ScriptedSerialDevices();
    ~ScriptedSerialDevices();
    ScriptedSerialDevices(const ScriptedSerialDevices&) = delete;
    ScriptedSerialDevices& operator=(const ScriptedSerialDevices&) = delete;

    // The port that activations with "Index" n become.
    ScriptedPort& Port(DWORD index);
    // Writes a driver key under HKEY_LOCAL_MACHINE that activates port `index`.
    static void WriteDriverKey(const std::u16string& keyPath, DWORD index);
};

}  // namespace tavrel::testing
