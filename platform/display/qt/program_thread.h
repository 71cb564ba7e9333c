// The program's WinMain on a thread of its own: its result, and a wait for
// its end that any thread may do with a time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform::qt {

class ProgramThread {
public:
    // Runs `program`; `whenEnded` is called on the program's thread once it returned.
    ProgramThread(const std::function<int()>& program, const std::function<void()>& whenEnded);
    // Waits for the program's end.
    ~ProgramThread();
    ProgramThread(const ProgramThread&) = delete;
    ProgramThread& operator=(const ProgramThread&) = delete;

    bool WaitEnded(std::chrono::milliseconds timeout);
    bool Ended();
    // The program's result once it ended (0 before).
    int Result();

private:
    std::mutex lock_;
    std::condition_variable endedChanged_;
    bool ended_ = false;
    int result_ = 0;
    std::thread thread_;
};

}  // namespace platform::qt
