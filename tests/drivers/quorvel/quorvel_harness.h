// Drives the virtual serial port driver through its exported entry points, as
// the device manager does: the module is dlopen'ed from its file, each port is
// an instance made by COM_Init with a fake device host and opened once.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/streamdriver.h"
#include "support/fake_device_host.h"

namespace tavrel::testing {

class QuorvelModule {
public:
    QuorvelModule();   // throws std::runtime_error when the module or an entry is missing
    ~QuorvelModule();
    QuorvelModule(const QuorvelModule&) = delete;
    QuorvelModule& operator=(const QuorvelModule&) = delete;

    const STREAM_DRIVER_ENTRIES& entries() const { return entries_; }

private:
    void* handle_ = nullptr;
    STREAM_DRIVER_ENTRIES entries_{};
};

// Whether a port under test is opened for data at once, as the relay opens
// its outputs (which publishes its link), or only activated.
enum class OpenedForData { Yes, No };

// One activated (and opened) port, "<folder>/COM<index>", whose host names
// the group `portGroup` (empty: none). Closed and deactivated at the end
// unless the test did it.
class PortUnderTest {
public:
    PortUnderTest(const QuorvelModule& module, DWORD index, const std::filesystem::path& folder,
                  OpenedForData opened = OpenedForData::Yes, const std::string& portGroup = {});
    ~PortUnderTest();
    PortUnderTest(const PortUnderTest&) = delete;
    PortUnderTest& operator=(const PortUnderTest&) = delete;

    std::filesystem::path linkPath() const { return linkPath_; }
    DRIVER_CONTEXT open() const { return open_; }
    const STREAM_DRIVER_ENTRIES& entries() const { return entries_; }

    // COM_Open with `access` (0: a query-only open); the port's own open
    // context when that is for data and none is open yet.
    DRIVER_CONTEXT Open(DWORD access);
    // PreClose and Close of an open context.
    BOOL Close(DRIVER_CONTEXT open);
    // Closes the port's own open context.
    BOOL CloseForData();

    // COM_Write; the count it returned.
    DWORD Write(std::span<const unsigned char> bytes) const;
    // Writes in chunks of `chunk` bytes, as the relay does; true when every
    // write returned its full count.
    bool WriteInChunks(std::span<const unsigned char> bytes, std::size_t chunk = 100) const;
    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* actual = nullptr) const;

    BOOL Deinit();   // closes the open context first

private:
    const STREAM_DRIVER_ENTRIES& entries_;
    std::unique_ptr<FakeDeviceHost> host_;
    std::filesystem::path linkPath_;
    DRIVER_CONTEXT device_ = 0;
    DRIVER_CONTEXT open_ = 0;
};

// A consumer's file descriptor, closed at the end.
class Consumer {
public:
    explicit Consumer(int fd) : fd_(fd) {}
    ~Consumer();
    Consumer(const Consumer&) = delete;
    Consumer& operator=(const Consumer&) = delete;

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Close();

private:
    int fd_;
};

// Opens a port the way a program that leaves the terminal settings alone does
// (non-blocking, for ReadFor).
int OpenPlain(const std::filesystem::path& path);

// `size` bytes of consecutive 32-bit counters, so that any stretch of it shows
// where it came from.
std::vector<unsigned char> CountingStream(std::size_t size, std::uint32_t first = 0);

// Reads until what arrived ends with `ending` (or the time-out passed).
std::vector<unsigned char> ReadUntilEndsWith(int fd, std::span<const unsigned char> ending,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

bool EndsWith(std::span<const unsigned char> text, std::span<const unsigned char> ending);

}  // namespace tavrel::testing
