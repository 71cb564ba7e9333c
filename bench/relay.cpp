#include "bench/relay.h"

namespace tavrel::bench {

ExitOutcome Relay::LinksLeft() const
{
    std::string left;
    for (const std::filesystem::path& link : outputLinks_) {
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(link, error))) {
            left.append(" ").append(link.filename().string());   // appended: GCC 12 -Wrestrict misfires on " " + text
        }
    }
    return {left.empty() ? "links removed" : "links left:" + left, left.empty()};
}

}  // namespace tavrel::bench
