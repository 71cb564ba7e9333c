// Keeps every line written with OutputDebugStringW while an instance lives, so
// that tests can read what the system reported. Nothing is kept otherwise.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Whether a value of TAVREL_DEBUG (null when unset) asks for the debug lines on stderr.
bool DebugLinesAskedFor(const char* value);

class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    std::vector<std::u16string> Lines() const;
    // How many captured lines equal text exactly.
    std::size_t Count(const std::u16string& text) const;
    void Clear();
};

}  // namespace platform
