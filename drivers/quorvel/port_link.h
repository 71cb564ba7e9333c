// The link through which other programs find a port: "<folder>/COM5", a
// symbolic link to the pty slave that serves it. It exists only while the
// port relays (see VirtualPort), so a program that opens it finds a port
// that stays.
//
// A port folder may be shared by several Tavrel devices (the same
// TAVREL_PORT_DIR, or /run/tavrel/<user> for every device of a user). A link
// is one port's: the port holds its lock (see PortLock) while the link is
// published. A live link of another port is never touched; a stale one (its
// port gone) is replaced.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "port_lock.h"

namespace quorvel {

// The name holds the live link of another port.
class PortInUse : public std::runtime_error {
public:
    // "COM5 is in use by another Tavrel device: <link>"
    explicit PortInUse(const std::filesystem::path& link);
};

class PortLink {
public:
    // Makes the folder (with its parents) if missing and makes sure the link
    // could be published: its name is free or holds a stale link of ours.
    // Throws PortInUse for a live link of another port. Anything else there
    // (a file, a folder, another user's link) is never touched, and then this
    // throws std::system_error with EEXIST. Other failures throw with their
    // errno.
    PortLink(const std::filesystem::path& folder, const std::string& name, const std::string& target);
    // Removes the link if it is published.
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Takes the link's lock and publishes the link; a stale link of ours in
    // its place is replaced atomically. Throws as the constructor does;
    // nothing when published.
    void Publish();
    // Removes the link if it is still the one this port made, and lets its
    // lock go. Returns what went wrong, or an empty text; idempotent.
    std::string Remove();

    bool published() const { return published_; }
    const std::filesystem::path& path() const { return path_; }

private:
    // Throws unless the name is free or holds a link of ours; true for a link.
    bool NameHoldsOurLink() const;
    void PlaceLink();
    void ReplaceStaleLink();
    std::string RemovePlacedLink();

    std::filesystem::path path_;
    std::string target_;
    PortLock lock_;
    bool published_ = false;
};

}  // namespace quorvel
