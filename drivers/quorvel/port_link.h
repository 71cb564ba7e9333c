// The link through which other programs find a port: "<folder>/COM5", a
// symbolic link to the pty slave that serves it.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

class PortLink {
public:
    // Publishes the link, creating the folder (with its parents) if missing. A
    // symbolic link already there is stale (from an earlier run) and replaced
    // atomically; anything else there is never touched, and then this throws
    // std::system_error with EEXIST. Other failures throw with their errno.
    PortLink(const std::filesystem::path& folder, const std::string& name, const std::string& target);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Removes the link if it still points to our target (another instance may
    // have taken the name over since). Returns 0 or errno; idempotent.
    int Remove();

private:
    void Publish();
    void ReplaceStaleLink();

    std::filesystem::path path_;
    std::string target_;
    bool published_ = false;
};

}  // namespace quorvel
