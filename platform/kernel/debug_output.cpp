// The debug output stream: stderr, and the capture that tests read.
#include <algorithm>
#include <mutex>
#include <unistd.h>

#include "platform/debug_capture.h"
#include "platform/kernel.h"
#include "platform/strings.h"

namespace platform {
namespace {

struct Capture {
    std::mutex lock;
    int active = 0;
    std::vector<std::u16string> lines;
};

Capture& TheCapture()
{
    static Capture capture;
    return capture;
}

void WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;   // stderr is gone; the debug output is best effort
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

DebugOutputCapture::DebugOutputCapture()
{
    Capture& capture = TheCapture();
    std::lock_guard guard(capture.lock);
    if (capture.active++ == 0) {
        capture.lines.clear();
    }
}

DebugOutputCapture::~DebugOutputCapture()
{
    Capture& capture = TheCapture();
    std::lock_guard guard(capture.lock);
    if (--capture.active == 0) {
        capture.lines.clear();
    }
}

std::vector<std::u16string> DebugOutputCapture::Lines() const
{
    Capture& capture = TheCapture();
    std::lock_guard guard(capture.lock);
    return capture.lines;
}

std::size_t DebugOutputCapture::Count(const std::u16string& text) const
{
    const std::vector<std::u16string> lines = Lines();
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

void DebugOutputCapture::Clear()
{
    Capture& capture = TheCapture();
    std::lock_guard guard(capture.lock);
    capture.lines.clear();
}

}  // namespace platform

void OutputDebugStringW(LPCWSTR text)
{
    if (text == nullptr) {
        return;
    }
    platform::WriteAll(STDERR_FILENO, platform::ToUtf8(text));
    platform::Capture& capture = platform::TheCapture();
    std::lock_guard guard(capture.lock);
    if (capture.active > 0) {
        capture.lines.emplace_back(text);
    }
}
