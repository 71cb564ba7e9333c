// The per-thread last error, time, and the debug break.
#include <csignal>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/kernel.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

bool DebuggerAttached()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("TracerPid:")) {
            return std::stol(line.substr(10)) != 0;
        }
    }
    return false;
}

}  // namespace

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD errorCode)
{
    lastError = errorCode;
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == INFINITE) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetTickCount()
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void DebugBreak()
{
    if (DebuggerAttached()) {
        std::raise(SIGTRAP);
        return;
    }
    std::fputs("DebugBreak: no debugger attached, carrying on\n", stderr);
}
