// The baselines of the network section, each one process that relays the
// input tty to the TCP clients of 127.0.0.1:port:
//   ser2net -d -u -c <folder>/ser2net.yaml   (Debian's package; every client gets every byte)
//   socat -u FILE:<input>,raw,echo=0 TCP-LISTEN:<port>,bind=127.0.0.1,reuseaddr   (one client only)
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/relay.h"
#include "bench/spawned_process.h"

namespace tavrel::bench {

// A relay that is one program started with fixed arguments and ended with SIGTERM.
class OneProcessRelay : public Relay {
public:
    void Launch() override;
    std::vector<pid_t> processes() const override;
    void Terminate() override;
    ExitOutcome Outcome() const override;
    std::filesystem::path log() const override { return folder_ / (name() + ".log"); }

protected:
    OneProcessRelay(const std::filesystem::path& folder, std::vector<std::string> arguments, std::uint16_t port);

private:
    std::filesystem::path folder_;
    std::vector<std::string> arguments_;
    std::optional<SpawnedProcess> program_;
    int exitStatus_ = 0;
};

class Ser2netRelay : public OneProcessRelay {
public:
    Ser2netRelay(const std::filesystem::path& folder, const std::string& inputTty, std::uint16_t port);
    std::string name() const override { return "ser2net"; }
};

class SocatTcpRelay : public OneProcessRelay {
public:
    SocatTcpRelay(const std::filesystem::path& folder, const std::string& inputTty, std::uint16_t port);
    std::string name() const override { return "socat"; }
};

// ser2net's configuration for one connection from `inputTty` to every client
// of 127.0.0.1:port, up to 16 of them, none pushed off by another.
std::string Ser2netConfiguration(const std::string& inputTty, std::uint16_t port);

}  // namespace tavrel::bench
