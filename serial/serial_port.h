// CSerial: one serial port device, opened by name ("COM5:"), with synchronous
// reads and writes. Every operation returns 0 or an error code and keeps that
// code in lastError; most write one diagnostic line when they fail.
#pragma once

#include "platform/comm.h"
#include "platform/types.h"

class CSerial {
public:
    // A fixed underlying type, so that a value outside the enumeration can be
    // passed and refused without undefined behaviour.
    enum ReadTimeoutMode : int { ReadNonBlocking = 0, ReadBlocking = 1 };
    enum FlowControl : int { FlowNone = 0, FlowHardware = 1, FlowSoftware = 2 };

    CSerial();
    // Copies are member-wise and share the handle: only closed objects are copied.
    CSerial(const CSerial&) = default;
    CSerial& operator=(const CSerial&) = default;
    virtual ~CSerial();

    virtual LONG Open(LPCWSTR device, DWORD inQueue, DWORD outQueue, bool overlapped);
    virtual LONG Close();
    virtual LONG Setup(DWORD baudRate, BYTE dataBits, BYTE parity, BYTE stopBits);
    virtual LONG SetEventCharacter(BYTE eventCharacter, bool addFlagEvent);
    virtual LONG SetMask(DWORD eventMask);
    virtual LONG WaitForEvent(LPOVERLAPPED overlapped, DWORD timeout);
    virtual LONG SetFlowControl(FlowControl mode);
    virtual LONG SetupReadTimeouts(ReadTimeoutMode mode);
    virtual DWORD GetBaudRate();
    virtual int GetDataBits();
    virtual int GetParity();
    virtual int GetStopBits();
    virtual int GetFlowControl();
    virtual DWORD GetMask();
    virtual BYTE GetEventCharacter();
    virtual LONG WriteString(const char* text, DWORD* written, LPOVERLAPPED overlapped, DWORD timeout);
    virtual LONG Write(const void* data, DWORD size, DWORD* written, LPOVERLAPPED overlapped, DWORD timeout);
    virtual LONG Read(void* buffer, DWORD size, DWORD* read, LPOVERLAPPED overlapped, DWORD timeout);

    LONG Purge();
    void CheckSynchronousUse(LPOVERLAPPED overlapped, DWORD timeout);
    // An addition, so that a caller can wait for received data together with
    // other objects: the port's receive event (CreateCommReceiveEvent) in
    // *event, which the caller closes with CloseHandle. 0; 6 when the port is
    // not open; or the platform's error when its driver cannot tell when data
    // arrives. Writes no line: a caller without it polls instead.
    LONG CreateReceiveEvent(HANDLE* event);
    // An addition, so that a writer can tell how far the program at the other
    // end of the port lags: in *count the bytes written that wait in the
    // port's driver to be sent (ClearCommError's cbOutQue). 0; 6 when the
    // port is not open; or the platform's error when its driver cannot tell.
    // Writes no line.
    LONG GetOutQueue(DWORD* count);
    // Additions, so that a caller that loses the port can tell whether a
    // device that later has the port's name is the one it had: the identity
    // of the device that the port holds (GetCommDeviceIdentity), and its
    // COMM_DEVICE_ verdict against one remembered (CompareCommDeviceIdentity).
    // 0; 6 when the port is not open; or the platform's error when its driver
    // cannot tell. Write no line.
    LONG GetDeviceIdentity(COMM_DEVICE_IDENTITY* identity);
    LONG CompareDeviceIdentity(const COMM_DEVICE_IDENTITY& remembered, DWORD* verdict);

    LONG lastError = 0;
    HANDLE portHandle = nullptr;
    DWORD lastEvent = 0;
    DWORD eventMask = 0;

private:
    // The start of an addition that answers in *out: lastError cleared and
    // *out emptied; false, with lastError set, for a missing `out` or a port
    // that is not open.
    template <typename T>
    bool ReadyToAnswer(T* out);
    // Takes lastError from the platform, right after a call failed.
    LONG TakePlatformError();
    // Reads the port's DCB into dcb; on failure sets lastError and returns false.
    bool ReadState(DCB& dcb);
    LONG WriteState(DCB& dcb);
    // Sets lastError to 6 and writes the not-open line, if any, when the port is closed.
    bool IsClosed(LPCWSTR notOpenLine);
};
