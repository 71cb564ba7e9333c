// Tavrel as a person sets it up to run unattended, the way scripts/run does:
// a fresh device installed with tavrel-install, the input tty mapped by
// tavrel-demo-setup as the built-in port COM9 with Autostart on, and the
// chosen outputs saved as the user's choice. Launch runs the program
// headless; Terminate sends SIGTERM as a shutdown would.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/relay.h"
#include "bench/spawned_process.h"

namespace tavrel::bench {

class TavrelRelay : public Relay {
public:
    // The device lives in `folder`; `outputs` (1 to 9) take the numbers 2 to
    // 8, then 0 and 1. A `tcpPort` other than 0 is set with tavrel-config, so
    // that the relay also serves its stream on 127.0.0.1:tcpPort. Throws
    // std::runtime_error when the set-up fails.
    TavrelRelay(const std::filesystem::path& folder, const std::string& inputTty, int outputs, int baudIndex,
                std::uint16_t tcpPort = 0);

    // Runs tavrel-config with `words` on the device, as a person would before
    // the start. Throws std::runtime_error when it fails.
    void Configure(const std::vector<std::string>& words);
    // What tavrel-status --json answers now; empty when it does not.
    std::string Status() const;

    std::string name() const override { return "Tavrel"; }
    void Launch() override;
    std::vector<pid_t> processes() const override;
    void Terminate() override;
    ExitOutcome Outcome() const override;
    std::filesystem::path log() const override { return folder_ / "tavrel.log"; }

private:
    std::filesystem::path deviceRoot() const { return folder_ / "device"; }
    std::filesystem::path userHive() const { return deviceRoot() / "registry" / "user.reg"; }
    bool SettingsKept() const;

    std::filesystem::path folder_;
    std::uint32_t splitMask_ = 0;
    std::optional<SpawnedProcess> program_;
    int exitStatus_ = 0;
};

}  // namespace tavrel::bench
