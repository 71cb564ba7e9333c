// A pseudo-terminal pair for tests and benchmarks: the caller holds the
// master and plays the device's far end; the slave's path is what a driver or
// a consumer opens.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tavrel::testing {

class PtyPair {
public:
    PtyPair();   // raw mode, so every byte passes unchanged
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    void Write(const std::vector<unsigned char>& bytes) const;
    void CloseMaster();

private:
    int master_ = -1;
    std::string slavePath_;
};

// Opens a path for reading (a pty slave, or a link to one) in raw mode, as a
// consumer program would; -1 when it cannot be opened.
int OpenRaw(const std::string& path);

// Reads from fd until `count` bytes arrived or `timeout` passed; returns what came.
std::vector<unsigned char> ReadFor(int fd, std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Every byte value 0..255 once, in order.
std::vector<unsigned char> AllByteValues();

}  // namespace tavrel::testing
