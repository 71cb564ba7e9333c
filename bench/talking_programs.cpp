#include "bench/talking_programs.h"

#include <fcntl.h>

#include "testkit/pty_pair.h"

namespace tavrel::bench {

TalkingPrograms::TalkingPrograms(const std::vector<std::filesystem::path>& links)
    : links_(links), writers_(std::make_shared<std::vector<platform::host::UniqueFd>>(links.size()))
{
}

std::vector<OutputReaders::Opener> TalkingPrograms::Openers() const
{
    std::vector<OutputReaders::Opener> openers;
    for (std::size_t port = 0; port < links_.size(); ++port) {
        openers.push_back([link = links_[port], writers = writers_, port] {
            const int fd = testing::OpenRaw(link.string());
            if (fd >= 0) {
                (*writers)[port] = platform::host::UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
            }
            return fd;
        });
    }
    return openers;
}

}  // namespace tavrel::bench
