// The debug output stream: stderr, and the capture that tests read.
#include <algorithm>
#include <mutex>
#include <unistd.h>

#include "platform/debug_capture.h"
#include "platform/host/file_calls.h"
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
    // Best effort: when stderr is gone, the capture still gets the line.
    platform::host::WriteAll(STDERR_FILENO, platform::ToUtf8(text));
    platform::Capture& capture = platform::TheCapture();
    std::lock_guard guard(capture.lock);
    if (capture.active > 0) {
        capture.lines.emplace_back(text);
    }
}
