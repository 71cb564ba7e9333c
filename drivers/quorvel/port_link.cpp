#include "port_link.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quorvel {
namespace {

[[noreturn]] void ThrowErrno(int error, const std::filesystem::path& path, const char* what)
{
    throw std::system_error(error, std::generic_category(), path.string() + ": " + what);
}

// A name beside the link that no other process or instance uses at this time.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& path)
{
    static std::atomic<unsigned> counter{0};
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about chained + here.
    std::string name = ".";
    name.append(path.filename().string()).append(".").append(std::to_string(::getpid()));
    name.append(".").append(std::to_string(counter.fetch_add(1))).append(".new");
    return path.parent_path() / name;
}

}  // namespace

PortLink::PortLink(const std::filesystem::path& folder, const std::string& name, const std::string& target)
    : path_(folder / name), target_(target)
{
    if (folder.empty()) {
        throw std::system_error(ENOENT, std::generic_category(), "no folder for the port's link");
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        ThrowErrno(error.value(), folder, "cannot create the folder for the port's link");
    }
    NameHoldsOurLink();
}

PortLink::~PortLink()
{
    Remove();
}

bool PortLink::NameHoldsOurLink() const
{
    struct stat there {};
    if (::lstat(path_.c_str(), &there) != 0) {
        if (errno != ENOENT) {
            ThrowErrno(errno, path_, "cannot examine what is in the way of the port's link");
        }
        return false;
    }
    if (!S_ISLNK(there.st_mode)) {
        ThrowErrno(EEXIST, path_, "is in the way and is not a link");
    }
    // Only a link of ours is stale: another user's may serve a port of theirs.
    if (there.st_uid != ::geteuid()) {
        ThrowErrno(EEXIST, path_, "is another user's link");
    }
    return true;
}

void PortLink::Publish()
{
    if (published_) {
        return;
    }
    // A name that something else takes between our look and our link is
    // looked at again, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::symlink(target_.c_str(), path_.c_str()) == 0) {
            published_ = true;
            return;
        }
        if (errno != EEXIST) {
            ThrowErrno(errno, path_, "cannot create the port's link");
        }
        if (NameHoldsOurLink()) {
            ReplaceStaleLink();
            published_ = true;
            return;
        }
    }
    ThrowErrno(EEXIST, path_, "keeps changing; cannot create the port's link");
}

void PortLink::ReplaceStaleLink()
{
    // A program that opens the port at this moment finds either the old link
    // or the new one, never none.
    const std::filesystem::path temporary = TemporaryNameBeside(path_);
    ::unlink(temporary.c_str());
    if (::symlink(target_.c_str(), temporary.c_str()) != 0) {
        ThrowErrno(errno, temporary, "cannot create the port's new link");
    }
    if (::rename(temporary.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        ThrowErrno(error, path_, "cannot replace the stale link");
    }
}

int PortLink::Remove()
{
    if (!published_) {
        return 0;
    }
    published_ = false;
    std::error_code error;
    const std::filesystem::path current = std::filesystem::read_symlink(path_, error);
    if (error || current != target_) {
        return 0;   // gone, or someone else's now
    }
    return ::unlink(path_.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

}  // namespace quorvel
