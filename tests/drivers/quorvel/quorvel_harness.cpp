#include "quorvel_harness.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

#include "platform/comm.h"
#include "testkit/pty_pair.h"

namespace tavrel::testing {
namespace {

template <typename Entry>
void Resolve(void* handle, const char* name, Entry& entry)
{
    entry = reinterpret_cast<Entry>(::dlsym(handle, name));
    if (entry == nullptr) {
        throw std::runtime_error(std::string("the driver module does not export ") + name);
    }
}

std::u16string DriverKey(DWORD index)
{
    const std::string key = "Drivers\\quorvel" + std::to_string(index);
    return std::u16string(key.begin(), key.end());
}

}  // namespace

QuorvelModule::QuorvelModule() : handle_(::dlopen(QUORVEL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL))
{
    if (handle_ == nullptr) {
        throw std::runtime_error(std::string("cannot load the driver module: ") + ::dlerror());
    }
    Resolve(handle_, "COM_Init", entries_.Init);
    Resolve(handle_, "COM_Deinit", entries_.Deinit);
    Resolve(handle_, "COM_Open", entries_.Open);
    Resolve(handle_, "COM_Close", entries_.Close);
    Resolve(handle_, "COM_PreClose", entries_.PreClose);
    Resolve(handle_, "COM_Read", entries_.Read);
    Resolve(handle_, "COM_Write", entries_.Write);
    Resolve(handle_, "COM_IOControl", entries_.IOControl);
}

QuorvelModule::~QuorvelModule()
{
    ::dlclose(handle_);
}

PortUnderTest::PortUnderTest(const QuorvelModule& module, DWORD index, const std::filesystem::path& folder,
                             OpenedForData opened, const std::string& portGroup)
    : entries_(module.entries()),
      host_(std::make_unique<FakeDeviceHost>(index, folder, DriverKey(index))),
      linkPath_(folder / ("COM" + std::to_string(index)))
{
    if (!portGroup.empty()) {
        host_->SetPortGroup(portGroup);
    }
    device_ = entries_.Init(host_->registryPath(), host_->host());
    if (device_ == 0) {
        throw std::runtime_error("COM_Init failed for " + linkPath_.string());
    }
    if (opened == OpenedForData::Yes && Open(GENERIC_READ | GENERIC_WRITE) == 0) {
        Deinit();
        throw std::runtime_error("COM_Open failed for " + linkPath_.string());
    }
}

DRIVER_CONTEXT PortUnderTest::Open(DWORD access)
{
    const DRIVER_CONTEXT open = entries_.Open(device_, access, 0);
    if (open_ == 0 && access != 0) {
        open_ = open;
    }
    return open;
}

BOOL PortUnderTest::Close(DRIVER_CONTEXT open)
{
    if (open == open_) {
        open_ = 0;
    }
    entries_.PreClose(open);
    return entries_.Close(open);
}

BOOL PortUnderTest::CloseForData()
{
    return Close(open_);
}

PortUnderTest::~PortUnderTest()
{
    Deinit();
}

DWORD PortUnderTest::Write(std::span<const unsigned char> bytes) const
{
    return entries_.Write(open_, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool PortUnderTest::WriteInChunks(std::span<const unsigned char> bytes, std::size_t chunk) const
{
    bool allSent = true;
    for (std::size_t done = 0; done < bytes.size(); done += chunk) {
        const auto piece = bytes.subspan(done, std::min(chunk, bytes.size() - done));
        allSent = Write(piece) == piece.size() && allSent;
    }
    return allSent;
}

BOOL PortUnderTest::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* actual) const
{
    return entries_.IOControl(open_, code, static_cast<const BYTE*>(in), inSize, static_cast<BYTE*>(out), outSize,
                              actual);
}

BOOL PortUnderTest::Deinit()
{
    if (device_ == 0) {
        return FALSE;
    }
    if (open_ != 0) {
        Close(open_);
    }
    const BOOL result = entries_.Deinit(device_);
    device_ = 0;
    return result;
}

Consumer::~Consumer()
{
    Close();
}

void Consumer::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int OpenPlain(const std::filesystem::path& path)
{
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

std::vector<unsigned char> CountingStream(std::size_t size, std::uint32_t first)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        const auto counter = static_cast<std::uint32_t>(first + i / 4);
        bytes[i] = static_cast<unsigned char>(counter >> (8 * (3 - i % 4)));
    }
    return bytes;
}

bool EndsWith(std::span<const unsigned char> text, std::span<const unsigned char> ending)
{
    return text.size() >= ending.size() &&
           std::equal(ending.begin(), ending.end(), text.end() - static_cast<std::ptrdiff_t>(ending.size()));
}

std::vector<unsigned char> ReadUntilEndsWith(int fd, std::span<const unsigned char> ending,
                                             std::chrono::milliseconds timeout)
{
    std::vector<unsigned char> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!EndsWith(got, ending) && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0) {
            continue;
        }
        unsigned char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return got;
}

}  // namespace tavrel::testing
