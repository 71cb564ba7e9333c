#include "port_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace quorvel {
namespace {

[[noreturn]] void ThrowErrno(int error, const std::filesystem::path& path, const char* what)
{
    throw std::system_error(error, std::generic_category(), path.string() + ": " + what);
}

std::string Problem(const std::string& what, int error)
{
    return what + ": " + std::generic_category().message(error);
}

// A name beside the link that no other process or instance uses at this time.
std::filesystem::path PrivateNameBeside(const std::filesystem::path& path, const char* purpose)
{
    static std::atomic<unsigned> counter{0};
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about chained + here.
    std::string name = ".";
    name.append(path.filename().string()).append(".").append(std::to_string(::getpid()));
    name.append(".").append(std::to_string(counter.fetch_add(1))).append(purpose);
    return path.parent_path() / name;
}

}  // namespace

PortInUse::PortInUse(const std::filesystem::path& link)
    : std::runtime_error(link.filename().string() + " is in use by another Tavrel device: " + link.string())
{
}

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
    if (NameHoldsOurLink() && PortLock::IsHeld(path_)) {
        throw PortInUse(path_);
    }
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
    // Only a link of ours can be stale: another user's may serve a port of theirs.
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
    if (!lock_.TryTake(path_)) {
        throw PortInUse(path_);
    }
    try {
        PlaceLink();
    } catch (...) {
        lock_.Release();
        throw;
    }
    published_ = true;
}

// Under the lock no live port serves the name, so a link of ours found there
// is stale. A name that something else takes between our look and our link
// is looked at again, a few times.
void PortLink::PlaceLink()
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::symlink(target_.c_str(), path_.c_str()) == 0) {
            return;
        }
        if (errno != EEXIST) {
            ThrowErrno(errno, path_, "cannot create the port's link");
        }
        if (NameHoldsOurLink()) {
            ReplaceStaleLink();
            return;
        }
    }
    ThrowErrno(EEXIST, path_, "keeps changing; cannot create the port's link");
}

void PortLink::ReplaceStaleLink()
{
    // A program that opens the port at this moment finds either the old link
    // or the new one, never none.
    const std::filesystem::path temporary = PrivateNameBeside(path_, ".new");
    if (::symlink(target_.c_str(), temporary.c_str()) != 0) {
        ThrowErrno(errno, temporary, "cannot create the port's new link");
    }
    if (::rename(temporary.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        ThrowErrno(error, path_, "cannot replace the stale link");
    }
}

std::string PortLink::Remove()
{
    if (!published_) {
        return {};
    }
    published_ = false;
    std::string problem = RemovePlacedLink();
    lock_.Release();
    return problem;
}

// Whatever holds the name is first moved aside to a private name, so that
// what is looked at is exactly what is removed: a link put there by someone
// else in the meantime is never unlinked on the strength of a look at ours.
// What is not the link this port made goes back under its name.
std::string PortLink::RemovePlacedLink()
{
    const std::filesystem::path aside = PrivateNameBeside(path_, ".old");
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        return errno == ENOENT ? std::string() : Problem("cannot remove the port's link", errno);
    }
    std::error_code error;
    const std::filesystem::path found = std::filesystem::read_symlink(aside, error);
    if (!error && found == target_) {
        return ::unlink(aside.c_str()) == 0 ? std::string() : Problem("cannot remove the port's link", errno);
    }
    // Not ours any more: back under its name, unless the name was taken again meanwhile.
    if (::renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
        return Problem("cannot put back what took the place of the port's link (now " + aside.string() + ")", errno);
    }
    return {};
}

}  // namespace quorvel
