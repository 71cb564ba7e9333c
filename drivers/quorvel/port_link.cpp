#include "port_link.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
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
    Publish();
    published_ = true;
}

PortLink::~PortLink()
{
    Remove();
}

void PortLink::Publish()
{
    // A name that something else takes between our look and our link is
    // looked at again, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::symlink(target_.c_str(), path_.c_str()) == 0) {
            return;
        }
        if (errno != EEXIST) {
            ThrowErrno(errno, path_, "cannot create the port's link");
        }
        std::error_code error;
        const std::filesystem::file_type type = std::filesystem::symlink_status(path_, error).type();
        if (type == std::filesystem::file_type::symlink) {
            ReplaceStaleLink();
            return;
        }
        if (error) {
            ThrowErrno(error.value(), path_, "cannot examine what is in the way of the port's link");
        }
        if (type != std::filesystem::file_type::not_found) {
            ThrowErrno(EEXIST, path_, "is in the way and is not a link");
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
