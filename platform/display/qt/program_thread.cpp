#include "display/qt/program_thread.h"

namespace platform::qt {

ProgramThread::ProgramThread(const std::function<int()>& program, const std::function<void()>& whenEnded)
    : thread_([this, program, whenEnded] {
          const int result = program();
          {
              std::lock_guard guard(lock_);
              result_ = result;
              ended_ = true;
          }
          endedChanged_.notify_all();
          whenEnded();
      })
{
}

ProgramThread::~ProgramThread()
{
    thread_.join();
}

bool ProgramThread::WaitEnded(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    return endedChanged_.wait_for(guard, timeout, [this] { return ended_; });
}

bool ProgramThread::Ended()
{
    std::lock_guard guard(lock_);
    return ended_;
}

int ProgramThread::Result()
{
    std::lock_guard guard(lock_);
    return result_;
}

}  // namespace platform::qt
