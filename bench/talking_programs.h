// The programs on the talking ports: each port opened once, as a program
// opens a serial port; the OutputReaders read it (so the stream relayed to
// it never piles up) and the program writes its lines through a second
// descriptor of the same open.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "bench/output_readers.h"
#include "platform/host/unique_fd.h"

namespace tavrel::bench {

class TalkingPrograms {
public:
    explicit TalkingPrograms(const std::vector<std::filesystem::path>& links);

    // For the OutputReaders, which own the descriptors they read.
    std::vector<OutputReaders::Opener> Openers() const;
    // Where program `port` writes; -1 while its port has not been opened.
    int writer(std::size_t port) const { return (*writers_)[port].get(); }

private:
    std::vector<std::filesystem::path> links_;
    std::shared_ptr<std::vector<platform::host::UniqueFd>> writers_;
};

}  // namespace tavrel::bench
