// Relay throughput, latency and CPU cost, from a pseudo-terminal input to 1 and
// 9 virtual ports (all that fit beside the input) whose readers read all the time.
//
//   cmake --preset bench && cmake --build --preset bench && build/bench/bench/relay_bench
#include <algorithm>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "relay/relay_run.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/pty_pair.h"
#include "support/test_device.h"

namespace {

using namespace tavrel::testing;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

// A device relaying a pty to `outputs` virtual ports, each with a reader.
class RelayBench {
public:
    // The input is COM1; the outputs take the other numbers, 2 to 9 and then 0,
    // so at most nine fit beside the input.
    explicit RelayBench(int outputs)
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        const PortNumber numbers[] = {2, 3, 4, 5, 6, 7, 8, 9, 0};
        SplitOutputs.assign(numbers, numbers + outputs);
        for (PortNumber n : SplitOutputs) {
            device_.WriteVirtualPortKey(n);
        }
        device_.MapBuiltInPort(u"Input", 1, input_.slavePath());
        device_.Reboot();
        AppSettings.inputPort = 1;
        AppSettings.baudIndex = 12;
        run_.Start();
        for (PortNumber n : SplitOutputs) {
            readers_.push_back(OpenRaw(device_.PortLink(n).string()));
        }
        WaitUntilRelaying(input_, readers_);
    }
    ~RelayBench()
    {
        run_.Stop();
        for (int fd : readers_) {
            ::close(fd);
        }
        SplitOutputs.clear();
    }

    PtyPair& input() { return input_; }
    const std::vector<int>& readers() const { return readers_; }

private:
    PtyPair input_;
    TestDevice device_;
    RelayRun run_;
    std::vector<int> readers_;
};

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Reads from fd until `total` bytes came or nothing came for a second; returns
// the count and when the last byte arrived.
std::pair<std::size_t, Clock::time_point> Drain(int fd, std::size_t total)
{
    std::size_t count = 0;
    Clock::time_point last = Clock::now();
    std::vector<unsigned char> buffer(64 * 1024);
    while (count < total) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 1000) <= 0) {
            break;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            count += static_cast<std::size_t>(n);
            last = Clock::now();
        }
    }
    return {count, last};
}

// Writes `total` bytes to the input as fast as it takes them, while every
// reader reads. The relay never waits for a reader, so readers that fall too
// far behind lose the oldest data: delivered_pct tells how much the slowest got.
void RelayThroughput(benchmark::State& state)
{
    RelayBench bench(static_cast<int>(state.range(0)));
    const std::size_t total = 8u << 20;
    const Bytes block(4096, 0x5A);
    std::size_t delivered = 0;
    double cpu = 0;
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        const auto start = Clock::now();
        std::vector<std::pair<std::size_t, Clock::time_point>> results(bench.readers().size());
        std::vector<std::thread> readers;
        for (std::size_t i = 0; i < results.size(); ++i) {
            readers.emplace_back([&, i] { results[i] = Drain(bench.readers()[i], total); });
        }
        for (std::size_t sent = 0; sent < total; sent += block.size()) {
            bench.input().Write(block);
        }
        for (auto& reader : readers) {
            reader.join();
        }
        Clock::time_point end = start;
        std::size_t least = total;
        for (const auto& [count, last] : results) {
            end = std::max(end, last);
            least = std::min(least, count);
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        cpu += CpuSeconds() - cpuBefore;
        delivered += least;
    }
    const double megabytes = static_cast<double>(total) * static_cast<double>(state.iterations()) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(total) * state.iterations());
    state.counters["cpu_ms_per_MB"] = cpu * 1000 / megabytes;
    state.counters["delivered_pct"] = 100.0 * static_cast<double>(delivered) / (megabytes * 1e6);
}

// Sends a small message now and then and measures when each reader has it.
void RelayLatency(benchmark::State& state)
{
    RelayBench bench(static_cast<int>(state.range(0)));
    std::vector<double> latencies;
    for (auto _ : state) {
        for (int message = 0; message < 100; ++message) {
            const auto sent = Clock::now();
            bench.input().Write(Bytes(32, static_cast<unsigned char>(message)));
            for (int fd : bench.readers()) {
                ReadFor(fd, 32, std::chrono::seconds(2));
                latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            }
            // Irregular gaps, so that messages meet the worker's 100 ms poll at every phase.
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + (message * 37) % 100));
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];
}

BENCHMARK(RelayThroughput)->Arg(1)->Arg(9)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RelayLatency)->Arg(1)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
