#include "bench/network_relays.h"

#include <csignal>
#include <fstream>
#include <stdexcept>

namespace tavrel::bench {

OneProcessRelay::OneProcessRelay(const std::filesystem::path& folder, std::vector<std::string> arguments,
                                 std::uint16_t port)
    : folder_(folder), arguments_(std::move(arguments))
{
    tcpPort_ = port;
}

void OneProcessRelay::Launch()
{
    program_.emplace(arguments_, std::vector<DescriptorMapping>{}, log());
}

std::vector<pid_t> OneProcessRelay::processes() const
{
    return program_ ? std::vector<pid_t>{program_->pid()} : std::vector<pid_t>{};
}

void OneProcessRelay::Terminate()
{
    exitStatus_ = program_->Stop(SIGTERM, kExitGrace);
}

ExitOutcome OneProcessRelay::Outcome() const
{
    return {DescribeExit(exitStatus_), true};
}

std::string Ser2netConfiguration(const std::string& inputTty, std::uint16_t port)
{
    const std::string portText = std::to_string(port);
    return "%YAML 1.1\n"
           "---\n"
           "connection: &bench\n"
           "  accepter: tcp,127.0.0.1," + portText + "\n"
           "  connector: serialdev," + inputTty + ",115200n81,local\n"
           "  options:\n"
           "    max-connections: 16\n"
           "    kickolduser: false\n";
}

namespace {

std::filesystem::path WrittenConfiguration(const std::filesystem::path& folder, const std::string& inputTty,
                                           std::uint16_t port)
{
    const std::filesystem::path file = folder / "ser2net.yaml";
    std::ofstream out(file);
    out << Ser2netConfiguration(inputTty, port);
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
    return file;
}

}  // namespace

// -d: in the foreground, its log on standard output (the relay's log); -u:
// no UUCP lock files, which a pseudo-terminal does not need.
Ser2netRelay::Ser2netRelay(const std::filesystem::path& folder, const std::string& inputTty, std::uint16_t port)
    : OneProcessRelay(folder, {"ser2net", "-d", "-u", "-c", WrittenConfiguration(folder, inputTty, port).string()},
                      port)
{
}

SocatTcpRelay::SocatTcpRelay(const std::filesystem::path& folder, const std::string& inputTty, std::uint16_t port)
    : OneProcessRelay(folder,
                      {"socat", "-u", "FILE:" + inputTty + ",raw,echo=0",
                       "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr"},
                      port)
{
}

}  // namespace tavrel::bench
