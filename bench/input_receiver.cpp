#include "bench/input_receiver.h"

#include <poll.h>
#include <unistd.h>

#include "bench/merge_tally.h"

namespace tavrel::bench {
namespace {

// How often the reader looks whether it is to stop.
constexpr int kStopLookMs = 20;

}  // namespace

InputReceiver::InputReceiver(const InputLine& input)
    : input_(input), thread_([this](std::stop_token stop) { Read(stop); })
{
}

std::vector<ArrivedLine> InputReceiver::Stop()
{
    thread_.request_stop();
    thread_.join();
    return std::move(lines_);
}

void InputReceiver::Read(const std::stop_token& stop)
{
    LineSplitter splitter;
    unsigned char buffer[4096];
    while (!stop.stop_requested()) {
        pollfd wait{input_.deviceEnd(), POLLIN, 0};
        if (::poll(&wait, 1, kStopLookMs) <= 0) {
            continue;
        }
        const Clock::time_point seen = Clock::now();
        const ssize_t count = ::read(input_.deviceEnd(), buffer, sizeof buffer);
        if (count > 0) {
            splitter.Feed(std::span(buffer, static_cast<std::size_t>(count)),
                          [&](std::string_view line) { lines_.push_back({std::string(line), seen}); });
        }
    }
}

}  // namespace tavrel::bench
