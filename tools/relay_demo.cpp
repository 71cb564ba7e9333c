// A demonstration of the relay on this machine: a simulated GPS receiver (or a
// serial device named on the command line) relayed to virtual serial ports
// that any program can open, e.g. `cat ~/.local/share/tavrel/ports/COM2`.
//
//   tavrel-relay-demo [HOST_TTY [BAUD_INDEX]]
#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "platform/boot.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "ports/port_lists.h"
#include "relay/relay_control.h"
#include "relay/relay_worker.h"
#include "settings/app_settings.h"
#include "tools/device_setup.h"

namespace {

constexpr int kInputPort = 9;

// The far end of a pseudo-terminal that sends an NMEA sentence every second.
class SimulatedGps {
public:
    SimulatedGps()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, 128)) {
            std::perror("simulated GPS");
            std::exit(1);
        }
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
        slave_ = name;
        thread_ = std::thread([this] { Run(); });
    }
    ~SimulatedGps()
    {
        stop_ = true;
        thread_.join();
        ::close(master_);
    }
    const std::string& slave() const { return slave_; }

private:
    void Run()
    {
        for (int second = 0; !stop_; ++second) {
            const std::time_t now = std::time(nullptr);
            std::tm utc{};
            ::gmtime_r(&now, &utc);
            char body[96];
            std::snprintf(body, sizeof body, "GPRMC,%02d%02d%02d.00,A,4807.038,N,01131.000,E,0.0,0.0,%02d%02d%02d,,",
                          utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
            unsigned checksum = 0;
            for (const char* c = body; *c != '\0'; ++c) {
                checksum ^= static_cast<unsigned char>(*c);
            }
            char sentence[128];
            const int length = std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, checksum);
            if (::write(master_, sentence, static_cast<std::size_t>(length)) < 0) {
                return;
            }
            for (int tick = 0; tick < 10 && !stop_; ++tick) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    }

    int master_ = -1;
    std::string slave_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int WaitForSignal()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    int received = 0;
    sigwait(&signals, &received);
    return received;
}

}  // namespace

int main(int argc, char** argv)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<SimulatedGps> gps;
    std::string input = argc > 1 ? argv[1] : "";
    if (input.empty()) {
        gps = std::make_unique<SimulatedGps>();
        input = gps->slave();
    }

    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    platform::BootDevice(settings);
    const PortList outputs = {2, 3};
    bool prepared = tavrel::tools::InstallVirtualPortDriver(QUORVEL_MODULE_PATH) &&
                    tavrel::tools::MapBuiltInPort(u"DemoInput", kInputPort, input);
    for (PortNumber n : outputs) {
        prepared = prepared && tavrel::tools::WriteVirtualPortKey(n);
    }
    if (!prepared) {
        std::fprintf(stderr, "cannot prepare the device under %s\n", settings.deviceRoot.c_str());
        return 1;
    }
    platform::ShutdownDevice();
    for (const std::string& problem : platform::BootDevice(settings).problems) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }

    AppSettings.inputPort = kInputPort;
    AppSettings.baudIndex = argc > 2 ? std::atoi(argv[2]) : 5;
    SplitOutputs = outputs;
    RelayControl.stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    RelayControl.startedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE worker = CreateThread(nullptr, 0, ThreadGPSProxy, nullptr, 0, nullptr);
    WaitForSingleObject(RelayControl.startedEvent, INFINITE);
    if (RelayControl.running == 0) {
        platform::ShutdownDevice();
        return 1;
    }
    std::printf("Relaying %s (COM%d) to:\n", input.c_str(), kInputPort);
    for (PortNumber n : outputs) {
        std::printf("  %s/COM%d\n", settings.portFolder.c_str(), n);
    }
    std::printf("Read one with: cat %s/COM%d\nCtrl-C stops.\n", settings.portFolder.c_str(), outputs[0]);
    std::fflush(stdout);

    WaitForSignal();
    RelayControl.stopAckEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetEvent(RelayControl.stopEvent);
    RelayControl.running = 0;
    HANDLE ends[2] = {RelayControl.stopAckEvent, worker};
    WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    platform::ShutdownDevice();
    std::printf("Stopped; the virtual ports are gone.\n");
    return 0;
}
