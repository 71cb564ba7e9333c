// Kernel services: handles, events, threads, waits, the per-thread last error,
// and the debug output stream.
#pragma once

#include "platform/errors.h"
#include "platform/types.h"

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_ABANDONED = 0x80;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD CREATE_SUSPENDED = 0x4;

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

DWORD GetLastError();
void SetLastError(DWORD errorCode);

BOOL CloseHandle(HANDLE object);

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId();

void Sleep(DWORD milliseconds);
DWORD GetTickCount();

// Writes the text exactly as given (no line end is added) to the capture when
// one is active (platform/debug_capture.h), and to stderr as UTF-8 when the
// environment's TAVREL_DEBUG holds anything but nothing or "0" (read once):
// a person sees the lines only when asking for them.
void OutputDebugStringW(LPCWSTR text);

// A breakpoint trap for a debugger. With no debugger attached it would end the
// process, so then it only notes the break on stderr and returns, as a resumed
// break does.
void DebugBreak();
