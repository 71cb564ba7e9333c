// The link through which other programs find a port: "<folder>/COM5", a
// symbolic link to the pty slave that serves it. It exists only while the
// port relays (see VirtualPort), so a program that opens it finds a port
// that stays.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

class PortLink {
public:
    // Makes the folder (with its parents) if missing and makes sure the link
    // could be published: its name is free or holds a stale link of ours.
    // Anything else there (a file, a folder, another user's link) is never
    // touched, and then this throws std::system_error with EEXIST. Other
    // failures throw with their errno.
    PortLink(const std::filesystem::path& folder, const std::string& name, const std::string& target);
    // Removes the link if it is published.
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Publishes the link; a stale link of ours in its place is replaced
    // atomically. Throws as the constructor does; nothing when published.
    void Publish();
    // Removes the link if it still points to our target (another instance may
    // have taken the name over since). Returns 0 or errno; idempotent.
    int Remove();

    bool published() const { return published_; }
    const std::filesystem::path& path() const { return path_; }

private:
    // Throws unless the name is free or holds a link of ours; true for a link.
    bool NameHoldsOurLink() const;
    void ReplaceStaleLink();

    std::filesystem::path path_;
    std::string target_;
    bool published_ = false;
};

}  // namespace quorvel
