#include "bench/output_readers.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "testkit/loopback.h"
#include "testkit/pty_pair.h"

namespace tavrel::bench {

OutputReaders::OutputReaders(const std::vector<std::filesystem::path>& links) : OutputReaders(PortOpeners(links)) {}

std::vector<OutputReaders::Opener> PortOpeners(const std::vector<std::filesystem::path>& links)
{
    std::vector<OutputReaders::Opener> openers;
    for (const std::filesystem::path& link : links) {
        openers.push_back([link] { return testing::OpenRaw(link.string()); });
    }
    return openers;
}

OutputReaders::OutputReaders(std::vector<Opener> openers)
    : openers_(std::move(openers)), fds_(openers_.size()), paused_(openers_.size(), false), buffer_(64 * 1024)
{
}

std::vector<OutputReaders::Opener> LoopbackClients(std::uint16_t port, std::size_t clients, std::size_t stalled,
                                                    int stalledReceiveBuffer)
{
    std::vector<OutputReaders::Opener> openers;
    for (std::size_t i = 0; i < clients; ++i) {
        const int receiveBuffer = i + stalled >= clients ? stalledReceiveBuffer : 0;
        openers.push_back([port, receiveBuffer] { return testing::ConnectLoopback(port, receiveBuffer); });
    }
    return openers;
}

std::vector<std::size_t> OutputReaders::OpenMissing()
{
    std::vector<std::size_t> opened;
    for (std::size_t i = 0; i < openers_.size(); ++i) {
        if (!fds_[i].valid()) {
            fds_[i] = platform::host::UniqueFd(openers_[i]());
            if (fds_[i].valid()) {
                opened.push_back(i);
            }
        }
    }
    return opened;
}

std::size_t OutputReaders::Read(std::chrono::milliseconds timeout, const Handler& handler)
{
    std::vector<pollfd> waits;
    std::vector<std::size_t> outputs;
    for (std::size_t i = 0; i < fds_.size(); ++i) {
        if (fds_[i].valid() && !paused_[i]) {
            waits.push_back({fds_[i].get(), POLLIN, 0});
            outputs.push_back(i);
        }
    }
    if (::poll(waits.data(), waits.size(), static_cast<int>(timeout.count())) <= 0) {
        return 0;
    }
    const Clock::time_point seen = Clock::now();
    std::size_t withBytes = 0;
    for (std::size_t k = 0; k < waits.size(); ++k) {
        if ((waits[k].revents & POLLIN) != 0) {
            ++withBytes;
            ReadOne(outputs[k], seen, handler);
        } else if ((waits[k].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            fds_[outputs[k]] = platform::host::UniqueFd();
        }
    }
    return withBytes;
}

void OutputReaders::ReadOne(std::size_t output, Clock::time_point seen, const Handler& handler)
{
    const ssize_t count = ::read(fds_[output].get(), buffer_.data(), buffer_.size());
    if (count > 0) {
        handler(output, std::span<const unsigned char>(buffer_.data(), static_cast<std::size_t>(count)), seen);
    } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
        fds_[output] = platform::host::UniqueFd();   // the port went away (EIO once its master closed)
    }
}

std::size_t OutputReaders::Drain(std::chrono::milliseconds quiet)
{
    std::size_t dropped = 0;
    while (Read(quiet, [&](std::size_t, std::span<const unsigned char> bytes, Clock::time_point) {
        dropped += bytes.size();
    }) > 0) {
    }
    return dropped;
}

}  // namespace tavrel::bench
