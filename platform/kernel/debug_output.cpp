// The debug output stream: the capture that tests read, and stderr when asked.
#include <algorithm>
#include <cstdlib>
#include <cstring>
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

bool DebugLinesToStderr()
{
    static const bool asked = DebugLinesAskedFor(std::getenv("TAVREL_DEBUG"));
    return asked;
}

}  // namespace

bool DebugLinesAskedFor(const char* value)
{
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

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
    if (platform::DebugLinesToStderr()) {
        platform::host::WriteAll(STDERR_FILENO, platform::ToUtf8(text));
    }
    platform::Capture& capture = platform::TheCapture();
    std::lock_guard guard(capture.lock);
    if (capture.active > 0) {
        capture.lines.emplace_back(text);
    }
}
