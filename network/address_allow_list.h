// Which peers may connect: a list of addresses and prefixes written as a
// person writes them ("192.168.1.0/24, fe80::/10 10.0.0.7"), separated by
// spaces or commas. An empty list lets anyone in who can reach the socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "network/host_address.h"

namespace tavrel::network {

// An address and how many of its leading bits must match.
struct AddressPrefix {
    HostAddress address;
    unsigned bits = 0;
};

class AddressAllowList {
public:
    // The empty list: anyone.
    AddressAllowList() = default;

    // The list that `text` writes, or nothing with `failure` naming the first
    // entry that does not parse and why.
    static std::optional<AddressAllowList> Parse(std::string_view text, std::string& failure);

    bool AllowsAnyone() const { return prefixes_.empty(); }
    // Whether a peer at `peer` may stay. IPv4-mapped IPv6 peers match IPv4 entries.
    bool Allows(const sockaddr_storage& peer) const;
    bool Allows(const HostAddress& peer) const;

    const std::vector<AddressPrefix>& prefixes() const { return prefixes_; }

private:
    std::vector<AddressPrefix> prefixes_;
};

}  // namespace tavrel::network
