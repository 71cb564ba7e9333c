// tavrel-gps-simulator: the far end of a pseudo-terminal that sends an NMEA
// sentence every second, as a GPS receiver on a serial port would. Prints
// the path of the port (the pseudo-terminal's slave) and runs until it is
// stopped with SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <optional>

#include "command_line/command_options.h"

namespace {

const tavrel::command_line::Command kSimulator{
    "tavrel-gps-simulator", "tavrel-gps-simulator\n",
    "Sends a fix ($GPGGA and $GPRMC) every second on a new pseudo-terminal, as a GPS receiver\n"
    "on a serial port would; prints the port's path and runs until SIGINT or SIGTERM.\n"};

volatile std::sig_atomic_t stopped = 0;

void Stop(int)
{
    stopped = 1;
}

int OpenPort(char* name, std::size_t size)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, size) != 0) {
        return -1;
    }
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    return master;
}

// One sentence with its checksum and line end, as a receiver writes it.
int Sentence(const char* body, char* out, std::size_t size)
{
    unsigned checksum = 0;
    for (const char* c = body; *c != '\0'; ++c) {
        checksum ^= static_cast<unsigned char>(*c);
    }
    return std::snprintf(out, size, "$%s*%02X\r\n", body, checksum);
}

// A fix's $GPGGA then $GPRMC with the current time and a fixed position, as
// a receiver sends them each second: programs that take only one of the two
// (GeoClue wants GGA for a position with an altitude) find it.
int Fix(char* out, std::size_t size)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char gga[96];
    std::snprintf(gga, sizeof gga, "GPGGA,%02d%02d%02d.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    char rmc[96];
    std::snprintf(rmc, sizeof rmc, "GPRMC,%02d%02d%02d.00,A,4807.038,N,01131.000,E,0.0,0.0,%02d%02d%02d,,,A",
                  utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    const int length = Sentence(gga, out, size);
    return length + Sentence(rmc, out + length, size - static_cast<std::size_t>(length));
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kSimulator, argc, argv)) {
        return *answered;
    }
    if (argc > 1) {
        return tavrel::command_line::WrongUsage(kSimulator);
    }
    std::signal(SIGINT, Stop);
    std::signal(SIGTERM, Stop);
    char name[128] = {};
    const int master = OpenPort(name, sizeof name);
    if (master < 0) {
        std::perror("tavrel-gps-simulator");
        return 1;
    }
    std::printf("%s\n", name);
    std::fflush(stdout);
    while (stopped == 0) {
        char sentence[256];
        const int length = Fix(sentence, sizeof sentence);
        // Nobody reading yet is fine: the pty keeps what fits, like a line's
        // buffer, and a sentence that cannot be written is lost as on a real
        // line; the next one is tried all the same.
        const int flags = ::fcntl(master, F_GETFL);
        ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
        const ssize_t written = ::write(master, sentence, static_cast<std::size_t>(length));
        static_cast<void>(written);
        for (int tick = 0; tick < 10 && stopped == 0; ++tick) {
            ::usleep(100000);
        }
    }
    ::close(master);
    return 0;
}
