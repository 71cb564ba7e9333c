// The baseline: socat relaying the input tty to pseudo-terminals with links.
// One output is one process:
//   socat -u FILE:<input>,raw,echo=0 PTY,link=<out>,raw,echo=0
// More outputs are the shell pipeline
//   socat -u FILE:<input>,raw,echo=0 STDOUT | tee <pipe 1> ... <pipe n-1> | socat -u STDIN PTY,link=<out n>,...
// with socat -u STDIN PTY,link=<out i>,raw,echo=0 reading each pipe, all in
// one process group that SIGTERM is sent to, as a shell's Ctrl-C would.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bench/relay.h"
#include "bench/spawned_process.h"

namespace tavrel::bench {

class SocatRelay : public Relay {
public:
    SocatRelay(const std::filesystem::path& folder, std::string inputTty, int outputs);

    std::string name() const override { return "socat"; }
    void Launch() override;
    std::vector<pid_t> processes() const override;
    void Terminate() override;
    ExitOutcome Outcome() const override;
    std::filesystem::path log() const override { return folder_ / "socat.log"; }

private:
    void LaunchOne();
    void LaunchFanOut();
    void Spawn(const std::vector<std::string>& arguments, const std::vector<DescriptorMapping>& descriptors);
    std::vector<std::string> InputReader(const std::string& destination) const;
    std::vector<std::string> OutputWriter(const std::string& source, std::size_t output) const;

    std::filesystem::path folder_;
    std::string inputTty_;
    std::vector<SpawnedProcess> processes_;
    std::vector<int> exitStatuses_;
};

}  // namespace tavrel::bench
