#include "bench/socat_relay.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/host/unique_fd.h"

namespace tavrel::bench {
namespace {

using platform::host::UniqueFd;

// Pipe ends are moved above the descriptors that the children are given
// (0 to 2 and tee's 3 and up), so that no mapping overwrites another's source.
constexpr int kFirstSpareDescriptor = 100;

struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
};

UniqueFd AboveChildDescriptors(int fd)
{
    UniqueFd moved(::fcntl(fd, F_DUPFD_CLOEXEC, kFirstSpareDescriptor));
    ::close(fd);
    return moved;
}

Pipe MakePipe()
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    return {AboveChildDescriptors(ends[0]), AboveChildDescriptors(ends[1])};
}

}  // namespace

SocatRelay::SocatRelay(const std::filesystem::path& folder, std::string inputTty, int outputs)
    : folder_(folder), inputTty_(std::move(inputTty))
{
    std::filesystem::create_directories(folder_ / "ports");
    for (int i = 0; i < outputs; ++i) {
        outputLinks_.push_back(folder_ / "ports" / ("COM" + std::to_string(i)));
    }
}

std::vector<std::string> SocatRelay::InputReader(const std::string& destination) const
{
    return {"socat", "-u", "FILE:" + inputTty_ + ",raw,echo=0", destination};
}

std::vector<std::string> SocatRelay::OutputWriter(const std::string& source, std::size_t output) const
{
    return {"socat", "-u", source, "PTY,link=" + outputLinks_[output].string() + ",raw,echo=0"};
}

void SocatRelay::Spawn(const std::vector<std::string>& arguments, const std::vector<DescriptorMapping>& descriptors)
{
    const bool first = processes_.empty();
    processes_.emplace_back(arguments, descriptors, log(), first ? ProcessGroup::NewGroup : ProcessGroup::Join,
                            first ? 0 : processes_.front().pid());
}

void SocatRelay::Launch()
{
    if (outputLinks_.size() == 1) {
        LaunchOne();
    } else {
        LaunchFanOut();
    }
}

void SocatRelay::LaunchOne()
{
    Spawn(InputReader("PTY,link=" + outputLinks_.front().string() + ",raw,echo=0"), {});
}

void SocatRelay::LaunchFanOut()
{
    const std::size_t outputs = outputLinks_.size();
    std::vector<Pipe> toOutputs;
    for (std::size_t i = 0; i < outputs; ++i) {
        toOutputs.push_back(MakePipe());
        Spawn(OutputWriter("STDIN", i), {{toOutputs[i].readEnd.get(), STDIN_FILENO}});
    }
    const Pipe toTee = MakePipe();
    std::vector<std::string> tee = {"tee"};
    std::vector<DescriptorMapping> teeDescriptors = {{toTee.readEnd.get(), STDIN_FILENO},
                                                     {toOutputs.back().writeEnd.get(), STDOUT_FILENO}};
    for (std::size_t i = 0; i + 1 < outputs; ++i) {
        const int target = 3 + static_cast<int>(i);
        tee.push_back("/dev/fd/" + std::to_string(target));
        teeDescriptors.push_back({toOutputs[i].writeEnd.get(), target});
    }
    Spawn(tee, teeDescriptors);
    Spawn(InputReader("STDOUT"), {{toTee.writeEnd.get(), STDOUT_FILENO}});
    // This process's pipe ends close here, so that an end of input reaches every output.
}

std::vector<pid_t> SocatRelay::processes() const
{
    std::vector<pid_t> pids;
    for (const SpawnedProcess& process : processes_) {
        pids.push_back(process.pid());
    }
    return pids;
}

void SocatRelay::Terminate()
{
    ::kill(-processes_.front().pid(), SIGTERM);
    for (SpawnedProcess& process : processes_) {
        exitStatuses_.push_back(process.WaitExit());
    }
}

ExitOutcome SocatRelay::Outcome() const
{
    std::string exits;
    for (const int status : exitStatuses_) {
        const std::string words = DescribeExit(status);
        if (exits.find(words) == std::string::npos) {
            exits += (exits.empty() ? "" : "/") + words;
        }
    }
    const ExitOutcome links = LinksLeft();
    return {exits + ", " + links.words, links.asRequired};
}

}  // namespace tavrel::bench
